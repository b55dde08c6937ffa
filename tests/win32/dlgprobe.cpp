// Test equipment for the Windows program's end-to-end test, run in the same Wine prefix: reads and
// drives the running control dialog from outside, as a user would.
//   dlgprobe status            prints the status field's text
//   dlgprobe setlog PATH       puts PATH into the log field
//   dlgprobe speed ID          clicks the speed radio button ID (1000 or 1001)
//   dlgprobe port INDEX        picks entry INDEX of the port list
//   dlgprobe box               prints the text of the open error box
//   dlgprobe cancel            sends the Cancel command (what Esc and the close box send)
// Exit code 0 on success, 2 when the window is not there, 1 on bad use.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

BOOL CALLBACK PrintStatic(HWND control, LPARAM) {
    char kind[16];
    char text[256];
    if (GetClassNameA(control, kind, sizeof kind) > 0 && lstrcmpiA(kind, "Static") == 0 &&
        GetWindowTextA(control, text, sizeof text) > 0) {
        printf("%s\n", text);
    }
    return TRUE;
}

// Sends `message` to `window` as the dialog's own controls would, waiting at most 5 s.
void Send(HWND window, UINT message, WPARAM w, LPARAM l) {
    DWORD_PTR result;
    SendMessageTimeoutW(window, message, w, l, SMTO_NORMAL, 5000, &result);
}

}  // namespace

int main(int argc, char** argv) {
    const char* command = argc >= 2 ? argv[1] : "";
    const char* arg = argc >= 3 ? argv[2] : "";
    HWND window = FindWindowW(L"#32770", strcmp(command, "box") == 0 ? L"Error" : L"Zundrel");
    if (window == NULL) {
        return 2;
    }
    if (strcmp(command, "box") == 0) {
        EnumChildWindows(window, PrintStatic, 0);
    } else if (strcmp(command, "status") == 0) {
        char text[256] = "";
        GetDlgItemTextA(window, 1003, text, sizeof text);
        printf("%s\n", text);
    } else if (strcmp(command, "setlog") == 0) {
        SetDlgItemTextA(window, 1004, arg);
    } else if (strcmp(command, "speed") == 0) {
        int id = atoi(arg);
        CheckRadioButton(window, 1000, 1001, id);
        Send(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(window, id));
    } else if (strcmp(command, "port") == 0) {
        HWND list = GetDlgItem(window, 1002);
        Send(list, CB_SETCURSEL, atoi(arg), 0);
        Send(window, WM_COMMAND, MAKEWPARAM(1002, CBN_SELCHANGE), (LPARAM)list);
    } else if (strcmp(command, "cancel") == 0) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    } else {
        return 1;
    }
    fflush(stdout);
    return 0;
}
