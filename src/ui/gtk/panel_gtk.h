// The GTK side of the reader thread's calls (front/front_end.h): how the reader reaches the dialog.
// The reader never touches GTK itself; it hands its requests to the window's thread and never makes
// that thread wait for it.
#pragma once

#include <gtk/gtk.h>

// Connects the panel to the dialog's window, status field and log field. Called once on the
// window's thread before the first port is opened.
void PanelAttach(GtkWindow* window, GtkEntry* status, GtkEntry* logPath);
