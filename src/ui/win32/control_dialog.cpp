// The Windows program's control dialog, drawn here and forwarded to the controller
// (control/controller.h), and the program's face (front/front_end.h), through which the reader
// thread and the controller reach the dialog. The program's start is in win_main.cpp.
#include <windows.h>
// clang-format off: after windows.h
#include <commctrl.h>
#include <dbt.h>
// clang-format on

#include <cstring>

#include "control/controller.h"
#include "control/options.h"
#include "front/front_end.h"
#include "log/traffic_log.h"
#include "ui/win32/control_dialog.h"
#include "ui/win32/resource.h"
#include "wait/wait.h"

namespace {

// The dialog's window handle, kept for the whole run.
HWND volatile g_dialog = NULL;

// The port list's tooltip, made at the dialog's start.
HWND g_portTip = NULL;

// The status label waiting to be shown. The reader thread swaps a fresh copy in and posts a note;
// the dialog's thread swaps it out and shows it. No thread ever waits for the other.
PVOID volatile g_pendingStatus = NULL;

constexpr UINT kShowStatusMessage = WM_APP + 1;

// Posted by the reader thread when the port's state changed by itself (lost, or back).
constexpr UINT kPortStateMessage = WM_APP + 2;

// The device interface class of COM ports (GUID_DEVINTERFACE_COMPORT): the dialog is told when one
// arrives, so that a lost port is tried again at once.
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
HDEVNOTIFY g_comArrivals = NULL;

// The timer of the controller's port policy: a port that did not open is tried again every second.
constexpr UINT_PTR kEverySecondTimer = 1;

// How often a message box of the reader thread looks at the stop signal.
constexpr UINT kBoxWatchMs = 50;

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

// The log field changed: its text, cut to kLogPathCapacity - 1 characters, is the log's path from
// the next line on. Read in its wide form, so that any path Windows takes is kept.
void OnLogPathChanged(HWND dialog) {
    wchar_t wide[kLogPathCapacity] = L"";
    char path[kLogPathBytes] = "";
    GetDlgItemTextW(dialog, IDC_LOG_PATH, wide, kLogPathCapacity);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, sizeof path, NULL, NULL);
    SetLogPath(path);
}

// The dialog's procedure; `lparam` of WM_INITDIALOG is the command line's StartOptions.
INT_PTR CALLBACK ControlDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            g_dialog = dialog;
            AttachPortTip(dialog);
            // The command line's log path in its field (the field's change hands it to the log).
            wchar_t path[kLogPathCapacity];
            const StartOptions* options = reinterpret_cast<const StartOptions*>(lparam);
            if (MultiByteToWideChar(CP_UTF8, 0, options->logPath, -1, path, kLogPathCapacity) > 0) {
                SetDlgItemTextW(dialog, IDC_LOG_PATH, path);
            }
            ControlStart();
            SetTimer(dialog, kEverySecondTimer, kControlTickMs, NULL);
            DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
            filter.dbcc_size = sizeof filter;
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            filter.dbcc_classguid = kComPortInterface;
            g_comArrivals =
                RegisterDeviceNotificationW(dialog, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
            return TRUE;
        }
        case WM_DEVICECHANGE:
            if (wparam == DBT_DEVICEARRIVAL) {
                ControlDeviceArrived();
            }
            return TRUE;
        case kPortStateMessage:
            ControlPortStateChanged();
            return TRUE;
        case WM_TIMER:
            if (wparam == kEverySecondTimer) {
                ControlEverySecond();
            }
            return TRUE;
        case kShowStatusMessage:
            ShowPendingStatus(dialog);
            return TRUE;
        case WM_COMMAND: {
            WORD id = LOWORD(wparam);
            WORD code = HIWORD(wparam);
            switch (id) {
                case IDCANCEL:
                    KillTimer(dialog, kEverySecondTimer);
                    if (g_comArrivals != NULL) {
                        UnregisterDeviceNotification(g_comArrivals);
                    }
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
                case IDC_LOG_PATH:
                    if (code == EN_CHANGE) {
                        OnLogPathChanged(dialog);
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

void FrontCheckSpeed(unsigned speed) {
    CheckDlgButton(g_dialog, speed == 9600 ? IDC_SPEED_9600 : IDC_SPEED_38400, BST_CHECKED);
}

void FrontAddPortItem(const char* label) {
    SendDlgItemMessageA(g_dialog, IDC_PORT_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
}

void FrontSelectPortItem(int index) {
    SendDlgItemMessageA(g_dialog, IDC_PORT_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void FrontRemovePortItems(int from) {
    LRESULT n = SendDlgItemMessageA(g_dialog, IDC_PORT_LIST, CB_GETCOUNT, 0, 0);
    while (n > from) {
        SendDlgItemMessageA(g_dialog, IDC_PORT_LIST, CB_DELETESTRING, static_cast<WPARAM>(--n), 0);
    }
}

void FrontSetPortTip(const char* text) {
    char copy[kStateLineBytes];
    lstrcpynA(copy, text, sizeof copy);
    TOOLINFOA tool = PortTool(g_dialog, copy);
    SendMessageA(g_portTip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

// The reader's message box ends with the reader itself (WatchBox), which ClosePort awaits: no box
// is left to take down.
void FrontDismissErrorBox() {}

void FrontPortStateChanged() {
    HWND dialog = g_dialog;
    if (dialog != NULL) {
        PostMessageA(dialog, kPortStateMessage, 0, 0);
    }
}

void FrontSetStatus(const char* label) {
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

void FrontShowError(const char* text) {
    if (ReaderStopRaised()) {
        return;
    }
    UINT_PTR watch = SetTimer(NULL, 0, kBoxWatchMs, WatchBox);
    MessageBoxA(g_dialog, text, NULL, MB_ICONERROR);
    if (watch != 0) {
        KillTimer(NULL, watch);
    }
}

// The dialog stays silent about the log, as it always has: no box, no line.
void FrontTell(const char*) {}

// The dialog has no place for the sockets open.
void FrontSocketCount(int) {}

// The trace goes to the standard output the program was given (a redirection), if any: a dialog
// program has no console of its own.
void FrontTrace(const char* line) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written;
    if (out != NULL && out != INVALID_HANDLE_VALUE) {
        WriteFile(out, line, static_cast<DWORD>(strlen(line)), &written, NULL);
        WriteFile(out, "\r\n", 2, &written, NULL);
    }
}

INT_PTR ShowControlDialog(HINSTANCE instance, const StartOptions& options) {
    // The wide form keeps the template's Japanese texts intact whatever the system's code page.
    INT_PTR code = DialogBoxParamW(instance, L"ZUNDRDLG", NULL, ControlDialogProc,
                                   reinterpret_cast<LPARAM>(&options));
    g_dialog = NULL;
    FreeStatus(InterlockedExchangePointer(&g_pendingStatus, NULL));
    return code;
}
