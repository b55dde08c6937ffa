// Ids of the control dialog's template and controls, shared by the resource script and the code.
#pragma once

#define IDC_SPEED_9600 1000
#define IDC_SPEED_38400 1001
#define IDC_PORT_LIST 1002
#define IDC_STATUS 1003
#define IDC_LOG_PATH 1004

#define IDI_ZUNDREL 1
