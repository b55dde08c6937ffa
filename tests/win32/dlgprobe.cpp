// Test equipment for the Windows program's end-to-end test, run under the same Wine prefix: reads
// and drives the running control dialog from outside, as a user's clicks would.
//   dlgprobe status            prints the status field's text
//   dlgprobe layout            prints the client size and caption, then one line per control:
//                              id|class|text(UTF-8)|left top width height|state
//                              (pixels, client-relative; state: check state of a button, selected
//                              entry of the list, whose text lists its entries)
//   dlgprobe setlog PATH       puts PATH into the log field
//   dlgprobe speed ID          clicks the speed radio button ID (1000 or 1001)
//   dlgprobe port INDEX        picks entry INDEX (0 to 3) of the port list; prints how many ms
//                              the dialog took to close the old port and open the new one
//   dlgprobe box               prints the text of the open error box
//   dlgprobe cancel            sends the Cancel command (what Esc and the close box send)
// Exit code 0 on success, 2 when the window is not there, 1 on bad use.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kWaitMs = 5000;

HWND FindDialog() {
    return FindWindowW(L"#32770", L"Zundrel");
}

void PrintUtf8(const wchar_t* text) {
    char out[1024];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, NULL, NULL);
    fputs(n > 0 ? out : "", stdout);
}

BOOL CALLBACK PrintControl(HWND control, LPARAM param) {
    HWND dialog = reinterpret_cast<HWND>(param);
    wchar_t kind[64];
    wchar_t text[256] = L"";
    GetClassNameW(control, kind, 64);
    DWORD_PTR state = 0;
    if (lstrcmpiW(kind, L"ComboBox") == 0) {
        // The port list's entries, then the selected one.
        LRESULT count = SendMessageW(control, CB_GETCOUNT, 0, 0);
        size_t used = 0;
        for (LRESULT i = 0; i < count && used + 16 < 256; ++i) {
            if (i > 0) {
                text[used++] = L',';
            }
            LRESULT n = SendMessageW(control, CB_GETLBTEXTLEN, i, 0);
            if (n >= 0 && used + n + 1 < 256) {
                SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text + used));
                used += n;
            }
            text[used] = L'\0';
        }
        state = SendMessageW(control, CB_GETCURSEL, 0, 0);
    } else {
        SendMessageTimeoutW(control, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                            kWaitMs, &state);
        state = lstrcmpiW(kind, L"Button") == 0 ? SendMessageW(control, BM_GETCHECK, 0, 0) : 0;
    }
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(NULL, dialog, reinterpret_cast<POINT*>(&r), 2);
    printf("%d|", GetDlgCtrlID(control));
    PrintUtf8(kind);
    printf("|");
    PrintUtf8(text);
    printf("|%ld %ld %ld %ld|%d\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
           static_cast<int>(state));
    return TRUE;
}

BOOL CALLBACK PrintStatic(HWND control, LPARAM) {
    wchar_t kind[64];
    GetClassNameW(control, kind, 64);
    if (lstrcmpiW(kind, L"Static") == 0) {
        wchar_t text[256];
        if (GetWindowTextW(control, text, 256) > 0) {
            PrintUtf8(text);
            printf("\n");
        }
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 1;
    }
    const char* command = argv[1];
    if (strcmp(command, "box") == 0) {
        HWND box = FindWindowW(L"#32770", L"Error");
        if (box == NULL) {
            return 2;
        }
        EnumChildWindows(box, PrintStatic, 0);
        return 0;
    }
    HWND dialog = FindDialog();
    if (dialog == NULL) {
        return 2;
    }
    DWORD_PTR result = 0;
    if (strcmp(command, "status") == 0) {
        char text[256] = "";
        GetDlgItemTextA(dialog, 1003, text, sizeof text);
        printf("%s\n", text);
    } else if (strcmp(command, "layout") == 0) {
        RECT client;
        GetClientRect(dialog, &client);
        wchar_t caption[64];
        GetWindowTextW(dialog, caption, 64);
        printf("client %ld %ld\ncaption ", client.right, client.bottom);
        PrintUtf8(caption);
        printf("\n");
        EnumChildWindows(dialog, PrintControl, reinterpret_cast<LPARAM>(dialog));
    } else if (strcmp(command, "setlog") == 0 && argc == 3) {
        SetDlgItemTextA(dialog, 1004, argv[2]);
    } else if (strcmp(command, "speed") == 0 && argc == 3) {
        int id = atoi(argv[2]);
        HWND button = GetDlgItem(dialog, id);
        CheckRadioButton(dialog, 1000, 1001, id);
        SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                            reinterpret_cast<LPARAM>(button), SMTO_NORMAL, kWaitMs, &result);
    } else if (strcmp(command, "port") == 0 && argc == 3) {
        HWND list = GetDlgItem(dialog, 1002);
        SendMessageTimeoutW(list, CB_SETCURSEL, atoi(argv[2]), 0, SMTO_NORMAL, kWaitMs, &result);
        ULONGLONG start = GetTickCount64();
        SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(1002, CBN_SELCHANGE),
                            reinterpret_cast<LPARAM>(list), SMTO_NORMAL, kWaitMs, &result);
        printf("%llu\n", GetTickCount64() - start);
    } else if (strcmp(command, "cancel") == 0) {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    } else {
        return 1;
    }
    fflush(stdout);
    return 0;
}
