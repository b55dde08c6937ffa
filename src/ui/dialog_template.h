// The control dialog's template, "ZUNDRDLG": its size and the rectangle of each control (left, top,
// width, height) in dialog units. The one source of the layout: the Windows resource script builds
// the dialog from it, and the GTK dialog places its controls by it.
#pragma once

#define ZUNDRDLG_SIZE 111, 111
#define ZUNDRDLG_PORT_LABEL 7, 10, 44, 8
#define ZUNDRDLG_PORT_LIST 54, 7, 48, 79  // 79: the height of the opened list
#define ZUNDRDLG_SPEED_GROUP 7, 25, 97, 27
#define ZUNDRDLG_SPEED_9600 11, 37, 40, 10
#define ZUNDRDLG_SPEED_38400 55, 37, 43, 10
#define ZUNDRDLG_LOG_LABEL 7, 60, 24, 8
#define ZUNDRDLG_LOG_PATH 32, 57, 72, 14
#define ZUNDRDLG_STATUS_GROUP 7, 75, 97, 29
#define ZUNDRDLG_STATUS 12, 86, 86, 14
