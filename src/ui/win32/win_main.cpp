// The Windows program's start: its command line, read as UTF-8, and where --help, --version and a
// bad option are written (a dialog program has no console of its own); then the control dialog.
#include <windows.h>
// clang-format off: after windows.h
#include <shellapi.h>
// clang-format on

#include <cstring>

#include "control/options.h"
#include "front/front_end.h"
#include "ui/win32/control_dialog.h"

// Writes `text` (UTF-8) to the standard handle when there is one (a redirection, or the console of
// the program that started this one); a dialog program has no console of its own.
int FrontPrint(int toStderr, const char* text) {
    HANDLE out = GetStdHandle(toStderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    bool attached = false;
    if ((out == NULL || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        attached = true;
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                          OPEN_EXISTING, 0, NULL);
    }
    DWORD written = 0;
    DWORD size = static_cast<DWORD>(strlen(text));
    bool whole = out != NULL && out != INVALID_HANDLE_VALUE &&
                 WriteFile(out, text, size, &written, NULL) && written == size;
    if (attached) {
        if (out != INVALID_HANDLE_VALUE) {
            CloseHandle(out);
        }
        FreeConsole();
    }
    return whole ? 1 : 0;
}

namespace {

// Reads the command line, as UTF-8, into `options` (ReadCommandLine). Returns -1 to run the dialog,
// or else the exit status: 0 after --help or --version, 1 when that text could not be written, 2
// after a bad option (or a command line that cannot be read).
int ReadWideCommandLine(StartOptions* options) {
    int argc = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    int bytes = 0;
    for (int i = 0; wide != NULL && i < argc; ++i) {
        bytes += WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, NULL, 0, NULL, NULL) + 1;
    }
    // The pointers, then the texts they point to, in one block.
    char** argv = wide == NULL ? NULL
                               : static_cast<char**>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                               sizeof(char*) * (argc + 1) + bytes));
    int ended = 2;
    if (argv != NULL) {
        char* at = reinterpret_cast<char*>(argv + argc + 1);
        char* end = at + bytes;
        for (int i = 0; i < argc; ++i) {
            argv[i] = at;  // empty when it cannot be converted
            at += WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, at, static_cast<int>(end - at), NULL,
                                      NULL) +
                  1;
        }
        ended = ReadCommandLine("zundrel", argc, argv, options);
        HeapFree(GetProcessHeap(), 0, argv);
    } else {
        FrontPrint(1, "zundrel: the command line cannot be read\n");
    }
    if (wide != NULL) {
        LocalFree(wide);
    }
    return ended;
}

}  // namespace

// Shows the control dialog and returns 0 when the user has closed it; see ReadCommandLine for the
// statuses of a command line that ends the program at once.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    StartOptions options;
    int ended = ReadWideCommandLine(&options);
    if (ended >= 0) {
        return ended;
    }
    return static_cast<int>(ShowControlDialog(instance, options));
}
