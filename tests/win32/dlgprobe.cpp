// Test equipment for the Windows program's end-to-end test, run in the same Wine prefix: reads and
// drives the running control dialog from outside, as a user would.
//   dlgprobe status            prints the status field's text
//   dlgprobe setlog PATH       puts PATH into the log field
//   dlgprobe speed BPS         clicks the speed radio button of BPS (9600 or 38400)
//   dlgprobe checked BPS       prints 1 when that button is checked, else 0
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
#include <string>

// Sends `message` to `window` as the dialog's own controls would, waiting at most 5 s.
static LRESULT Send(HWND window, UINT message, WPARAM w, LPARAM l) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, w, l, SMTO_NORMAL, 5000, &result);
    return result;
}

int main(int argc, char** argv) {
    std::string command = argc >= 2 ? argv[1] : "";
    const char* arg = argc >= 3 ? argv[2] : "";
    int n = atoi(arg), radio = n == 9600 ? 1000 : 1001;  // the speed's radio button
    HWND window = FindWindowW(L"#32770", command == "box" ? L"Error" : L"Zundrel");
    HWND list = GetDlgItem(window, 1002), tip = NULL;
    char text[256] = "";
    if (window == NULL) {
        return 2;
    }
    if (command == "box" || command == "status") {  // a message box's text is its control 0xFFFF
        GetDlgItemTextA(window, command == "box" ? 0xFFFF : 1003, text, sizeof text);
    } else if (command == "setlog") {
        SetDlgItemTextA(window, 1004, arg);
    } else if (command == "speed") {
        CheckRadioButton(window, 1000, 1001, radio);
        Send(window, WM_COMMAND, MAKEWPARAM(radio, BN_CLICKED), (LPARAM)GetDlgItem(window, radio));
    } else if (command == "checked") {
        printf("%u\n", IsDlgButtonChecked(window, radio));
    } else if (command == "port") {  // the list dropped down, then the pick
        Send(window, WM_COMMAND, MAKEWPARAM(1002, CBN_DROPDOWN), (LPARAM)list);
        Send(list, CB_SETCURSEL, n, 0);
        Send(window, WM_COMMAND, MAKEWPARAM(1002, CBN_SELCHANGE), (LPARAM)list);
    } else if (command == "items") {
        for (LRESULT i = 0; i < Send(list, CB_GETCOUNT, 0, 0); ++i) {
            wchar_t item[256] = L"";  // the wide form: the one Wine hands across processes
            Send(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
            printf("%ls\n", item);
        }
    } else if (command == "tip") {
        // The text of the list's tool in the dialog's tooltip, which is another process's: the
        // tool is handed over, and the text asked for, in memory lent in that process.
        do {
            tip = FindWindowExA(NULL, tip, TOOLTIPS_CLASSA, NULL);
        } while (tip != NULL && GetWindow(tip, GW_OWNER) != window);
        DWORD id;
        GetWindowThreadProcessId(window, &id);
        HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, 0, id);
        wchar_t wide[sizeof text] = L"";
        auto there = static_cast<char*>(VirtualAllocEx(
            process, NULL, sizeof(TOOLINFOW) + sizeof wide, MEM_COMMIT, PAGE_READWRITE));
        if (tip == NULL || there == NULL) {
            return 2;
        }
        // Every member of the list's tool (cbSize, uFlags, hwnd, uId, rect, hinst, lpszText,
        // lParam, lpReserved), put after its text in the memory lent. The wide form: the narrow
        // one gives 80 bytes at the most.
        TOOLINFOW tool = {sizeof tool, 0, window, (UINT_PTR)list, {}, NULL, (LPWSTR)there, 0, NULL};
        WriteProcessMemory(process, there + sizeof wide, &tool, sizeof tool, NULL);
        Send(tip, TTM_GETTEXTW, sizeof text, reinterpret_cast<LPARAM>(there + sizeof wide));
        ReadProcessMemory(process, there, wide, sizeof wide, NULL);
        VirtualFreeEx(process, there, 0, MEM_RELEASE);
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, NULL, NULL);
    } else if (command == "cancel") {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    } else {
        return 1;
    }
    printf("%s", text);  // the text read, if any
    return 0;
}
