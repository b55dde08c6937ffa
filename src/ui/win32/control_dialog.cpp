// The Windows program: the control dialog, drawn here and forwarded to the controller
// (control/controller.h), the program entry, and the panel functions through which the reader
// thread reaches the dialog.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <cstring>

#include "control/controller.h"
#include "link/seams.h"
#include "ui/win32/resource.h"
#include "wait/stop_signal.h"

namespace {

// The dialog's window handle, kept for the whole run.
HWND volatile g_dialog = NULL;

// The port list's tooltip, made at the dialog's start.
HWND g_portTip = NULL;

// The status label waiting to be shown. The reader thread swaps a fresh copy in and posts a note;
// the dialog's thread swaps it out and shows it. No thread ever waits for the other.
PVOID volatile g_pendingStatus = NULL;

constexpr UINT kShowStatusMessage = WM_APP + 1;

// How often a message box of the reader thread looks at the stop signal.
constexpr UINT kBoxWatchMs = 50;

// How long the reader thread waits for the dialog's thread to hand over the log field.
constexpr UINT kLogFieldWaitMs = 2000;

void FreeStatus(PVOID text) {
    if (text != NULL) {
        HeapFree(GetProcessHeap(), 0, text);
    }
}

void ShowPendingStatus(HWND dialog) {
    PVOID text = InterlockedExchangePointer(&g_pendingStatus, NULL);
    if (text != NULL) {
        SetDlgItemTextA(dialog, IDC_STATUS, static_cast<const char*>(text));
        FreeStatus(text);
    }
}

// Ends the message box that this thread shows (it owns no other window).
BOOL CALLBACK EndThreadBox(HWND window, LPARAM) {
    char kind[16];
    if (GetClassNameA(window, kind, sizeof kind) > 0 && strcmp(kind, "#32770") == 0) {
        EndDialog(window, IDOK);
    }
    return TRUE;
}

// Timer of the reader thread while its message box is up: the box ends once the port is closing.
void CALLBACK WatchBox(HWND, UINT, UINT_PTR, DWORD) {
    if (ReaderStopRaised()) {
        EnumThreadWindows(GetCurrentThreadId(), EndThreadBox, 0);
    }
}

// The port list's tool of the tooltip.
TOOLINFOA PortTool(HWND dialog, char* text) {
    TOOLINFOA tool = {};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, IDC_PORT_LIST));
    tool.lpszText = text;
    return tool;
}

// Makes the tooltip that names the port's state over the port list.
void AttachPortTip(HWND dialog) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    g_portTip = CreateWindowExA(0, TOOLTIPS_CLASSA, NULL, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, NULL,
                                GetModuleHandleA(NULL), NULL);
    char none[] = "";
    TOOLINFOA tool = PortTool(dialog, none);
    SendMessageA(g_portTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

INT_PTR CALLBACK ControlDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            g_dialog = dialog;
            AttachPortTip(dialog);
            ControlStart();
            return TRUE;
        case kShowStatusMessage:
            ShowPendingStatus(dialog);
            return TRUE;
        case WM_COMMAND: {
            WORD id = LOWORD(wparam);
            WORD code = HIWORD(wparam);
            switch (id) {
                case IDCANCEL:
                    ControlEnd();
                    EndDialog(dialog, 0);
                    return TRUE;
                case IDC_SPEED_9600:
                    if (code == BN_CLICKED) {
                        ControlSetSpeed(9600);
                    }
                    return FALSE;
                case IDC_SPEED_38400:
                    if (code == BN_CLICKED) {
                        ControlSetSpeed(38400);
                    }
                    return FALSE;
                case IDC_PORT_LIST:
                    if (code == CBN_SELCHANGE) {
                        ControlPickPort(static_cast<int>(
                            SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_GETCURSEL, 0, 0)));
                    } else if (code == CBN_DROPDOWN) {
                        ControlRefreshPorts();  // one registry read
                    }
                    return FALSE;
                default:
                    return FALSE;  // OK (the Enter key) included: it does not close the dialog
            }
        }
        default:
            return FALSE;
    }
}

}  // namespace

void ViewCheckSpeed(unsigned speed) {
    CheckDlgButton(g_dialog, speed == 9600 ? IDC_SPEED_9600 : IDC_SPEED_38400, BST_CHECKED);
}

void ViewAddPortItem(const char* label) {
    SendDlgItemMessageA(g_dialog, IDC_PORT_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
}

void ViewSelectPortItem(int index) {
    SendDlgItemMessageA(g_dialog, IDC_PORT_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void ViewRemovePortItems(int from) {
    LRESULT n = SendDlgItemMessageA(g_dialog, IDC_PORT_LIST, CB_GETCOUNT, 0, 0);
    while (n > from) {
        SendDlgItemMessageA(g_dialog, IDC_PORT_LIST, CB_DELETESTRING, static_cast<WPARAM>(--n), 0);
    }
}

void ViewSetPortTip(const char* text) {
    char copy[192];
    lstrcpynA(copy, text, sizeof copy);
    TOOLINFOA tool = PortTool(g_dialog, copy);
    SendMessageA(g_portTip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

// The reader's message box ends with the reader itself (WatchBox), which ClosePort awaits: no box
// is left to take down.
void PanelDismissErrorBox() {}

void PanelSetStatus(const char* label) {
    HWND dialog = g_dialog;
    if (dialog == NULL) {
        return;
    }
    size_t size = strlen(label) + 1;
    PVOID copy = HeapAlloc(GetProcessHeap(), 0, size);
    if (copy == NULL) {
        return;
    }
    memcpy(copy, label, size);
    FreeStatus(InterlockedExchangePointer(&g_pendingStatus, copy));
    PostMessageA(dialog, kShowStatusMessage, 0, 0);
}

size_t PanelGetLogPath(char* buf, size_t size) {
    buf[0] = '\0';
    HWND field = GetDlgItem(g_dialog, IDC_LOG_PATH);
    DWORD_PTR copied = 0;
    if (field == NULL ||
        !SendMessageTimeoutA(field, WM_GETTEXT, size, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL,
                             kLogFieldWaitMs, &copied)) {
        buf[0] = '\0';
        return 0;
    }
    buf[size - 1] = '\0';
    return strlen(buf);
}

void PanelShowError(const char* text) {
    if (ReaderStopRaised()) {
        return;
    }
    UINT_PTR watch = SetTimer(NULL, 0, kBoxWatchMs, WatchBox);
    MessageBoxA(g_dialog, text, NULL, MB_ICONERROR);
    if (watch != 0) {
        KillTimer(NULL, watch);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The wide form keeps the template's Japanese texts intact whatever the system's code page.
    INT_PTR code = DialogBoxParamW(instance, L"ZUNDRDLG", NULL, ControlDialogProc, 0);
    g_dialog = NULL;
    FreeStatus(InterlockedExchangePointer(&g_pendingStatus, NULL));
    return static_cast<int>(code);
}
