// Test equipment for the Windows program's end-to-end test, run in the same Wine prefix: reads and
// drives the running control dialog from outside, as a user would.
//   dlgprobe status            prints the status field's text
//   dlgprobe setlog PATH       puts PATH into the log field
//   dlgprobe speed ID          clicks the speed radio button ID (1000 or 1001)
//   dlgprobe checked ID        prints 1 when the button ID is checked, else 0
//   dlgprobe port INDEX        drops the port list down and picks its entry INDEX
//   dlgprobe box               prints the text of the open error box
//   dlgprobe cancel            sends the Cancel command (what Esc and the close box send)
//   dlgprobe items             prints the port list's items, one a line
//   dlgprobe tip               prints the port list's tooltip
// Exit code 0 on success, 2 when the window is not there, 1 on bad use.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Sends `message` to `window` as the dialog's own controls would, waiting at most 5 s.
void Send(HWND window, UINT message, WPARAM w, LPARAM l) {
    DWORD_PTR result;
    SendMessageTimeoutW(window, message, w, l, SMTO_NORMAL, 5000, &result);
}

// Prints the text of the tool of the port list in the tooltip `tip` of `window`'s process: the
// text is asked for into memory lent in that process.
int PrintTip(HWND window, HWND tip) {
    struct Lent {
        TOOLINFOA tool;
        char text[256];
    } here = {};
    DWORD id;
    GetWindowThreadProcessId(window, &id);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, id);
    auto there =
        static_cast<Lent*>(VirtualAllocEx(process, NULL, sizeof(Lent), MEM_COMMIT, PAGE_READWRITE));
    if (tip == NULL || there == NULL) {
        return 2;
    }
    here.tool.cbSize = sizeof here.tool;
    here.tool.hwnd = window;
    here.tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, 1002));
    here.tool.lpszText = there->text;
    WriteProcessMemory(process, there, &here, sizeof here, NULL);
    Send(tip, TTM_GETTEXTA, sizeof here.text, reinterpret_cast<LPARAM>(there));
    ReadProcessMemory(process, there, &here, sizeof here, NULL);
    printf("%s\n", here.text);
    VirtualFreeEx(process, there, 0, MEM_RELEASE);
    CloseHandle(process);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* command = argc >= 2 ? argv[1] : "";
    const char* arg = argc >= 3 ? argv[2] : "";
    bool box = strcmp(command, "box") == 0;
    HWND window = FindWindowW(L"#32770", box ? L"Error" : L"Zundrel");
    HWND list = GetDlgItem(window, 1002);
    if (window == NULL) {
        return 2;
    }
    if (box || strcmp(command, "status") == 0) {
        char text[256] = "";  // a message box's text is its control 0xFFFF
        GetDlgItemTextA(window, box ? 0xFFFF : 1003, text, sizeof text);
        printf("%s\n", text);
    } else if (strcmp(command, "setlog") == 0) {
        SetDlgItemTextA(window, 1004, arg);
    } else if (strcmp(command, "speed") == 0) {
        CheckRadioButton(window, 1000, 1001, atoi(arg));
        Send(window, WM_COMMAND, MAKEWPARAM(atoi(arg), BN_CLICKED),
             (LPARAM)GetDlgItem(window, atoi(arg)));
    } else if (strcmp(command, "checked") == 0) {
        printf("%u\n", IsDlgButtonChecked(window, atoi(arg)));
    } else if (strcmp(command, "port") == 0) {  // the list dropped down, then the pick
        Send(window, WM_COMMAND, MAKEWPARAM(1002, CBN_DROPDOWN), (LPARAM)list);
        Send(list, CB_SETCURSEL, atoi(arg), 0);
        Send(window, WM_COMMAND, MAKEWPARAM(1002, CBN_SELCHANGE), (LPARAM)list);
    } else if (strcmp(command, "items") == 0) {
        for (LRESULT i = 0; i < SendMessageW(list, CB_GETCOUNT, 0, 0); ++i) {
            wchar_t text[256] = L"";  // the wide form: the one Wine hands across processes
            SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            printf("%ls\n", text);
        }
    } else if (strcmp(command, "tip") == 0) {
        HWND tip = NULL;
        do {
            tip = FindWindowExA(NULL, tip, TOOLTIPS_CLASSA, NULL);
        } while (tip != NULL && GetWindow(tip, GW_OWNER) != window);
        return PrintTip(window, tip);
    } else if (strcmp(command, "cancel") == 0) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    } else {
        return 1;
    }
    fflush(stdout);
    return 0;
}
