// The reader thread's calls of the GTK program (front/front_end.h). Everything that touches a
// widget is posted to the window's thread with g_idle_add, and the reader only ever waits on its
// own descriptors, so the window's thread can stop the reader at any moment.
#include "ui/gtk/panel_gtk.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "control/controller.h"
#include "front/front_end.h"
#include "log/traffic_log.h"
#include "wait/wait.h"

namespace {

// The widgets the panel works on; set once by PanelAttach, used on the window's thread only.
struct PanelWidgets {
    GtkWindow* window;
    GtkEntry* status;
    GtkEntry* logPath;
};
PanelWidgets g_widgets;

// The status text waiting to be shown. The reader replaces it; one idle callback at a time shows
// the latest text, so a burst of commands never floods the window's thread.
struct PendingStatus {
    std::mutex mutex;
    std::string text;
    bool posted;
};
PendingStatus g_status;

// The unknown-command box. `wanted` is the number of the request the reader is waiting on (0 when
// it waits on none); `shown` is the number of the box on the screen (window's thread only).
struct ErrorBox {
    std::mutex mutex;
    std::string text;
    unsigned wanted;
    unsigned last;
    int dismissedFd;  // eventfd, readable once the box has been dismissed
    GtkWidget* box;
    unsigned shown;
};
ErrorBox g_errorBox = {{}, {}, 0, 0, -1, nullptr, 0};

gboolean ShowPendingStatus(gpointer) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(g_status.mutex);
        text = g_status.text;
        g_status.posted = false;
    }
    if (g_widgets.status != nullptr) {
        gtk_entry_set_text(g_widgets.status, text.c_str());
    }
    return G_SOURCE_REMOVE;
}

// The log field changed: the log writes to the new path from its next line on.
void OnLogPathChanged(GtkEditable* field, gpointer) {
    SetLogPath(gtk_entry_get_text(GTK_ENTRY(field)));
}

void SignalDismissed() {
    RaiseSignal(g_errorBox.dismissedFd);
}

void DestroyShownBox() {
    if (g_errorBox.box != nullptr) {
        GtkWidget* box = g_errorBox.box;
        g_errorBox.box = nullptr;
        g_errorBox.shown = 0;
        gtk_widget_destroy(box);
    }
}

void OnErrorBoxResponse(GtkDialog*, gint, gpointer) {
    // OK, Esc or the box's close button: the user has dismissed it. Only the reader that waits on
    // this very box is woken.
    unsigned number = g_errorBox.shown;
    DestroyShownBox();
    std::lock_guard<std::mutex> lock(g_errorBox.mutex);
    if (number != 0 && g_errorBox.wanted == number) {
        SignalDismissed();
    }
}

// Puts up the box for request `number`, unless the reader has stopped waiting for it meanwhile.
gboolean ShowErrorBox(gpointer data) {
    unsigned number = GPOINTER_TO_UINT(data);
    std::string text;
    {
        std::lock_guard<std::mutex> lock(g_errorBox.mutex);
        if (g_errorBox.wanted != number) {
            return G_SOURCE_REMOVE;
        }
        text = g_errorBox.text;
    }
    DestroyShownBox();
    GtkWidget* box = gtk_message_dialog_new(
        g_widgets.window,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), "Error");
    // GTK 3 message boxes show no icon of their own: put the error icon beside the text.
    GtkWidget* row =
        gtk_widget_get_parent(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box)));
    if (GTK_IS_BOX(row)) {
        GtkWidget* icon = gtk_image_new_from_icon_name("dialog-error", GTK_ICON_SIZE_DIALOG);
        gtk_widget_set_valign(icon, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(row), icon, 0);
        gtk_widget_show(icon);
    }
    gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER_ON_PARENT);
    g_signal_connect(box, "response", G_CALLBACK(OnErrorBoxResponse), nullptr);
    g_errorBox.box = box;
    g_errorBox.shown = number;
    gtk_widget_show(box);
    return G_SOURCE_REMOVE;
}

// Takes down the box of request `number` if it is still up (the reader gave up waiting).
gboolean DismissErrorBoxOf(gpointer data) {
    unsigned number = GPOINTER_TO_UINT(data);
    if (g_errorBox.shown == number) {
        DestroyShownBox();
    }
    return G_SOURCE_REMOVE;
}

// Shows the port's new state on the window's thread.
gboolean ShowPortStateChange(gpointer) {
    ControlPortStateChanged();
    return G_SOURCE_REMOVE;
}

// Writes the line `text` told (g_strdup'ed) to stderr on the window's thread, where the
// port's state lines are written too, so the reader never waits for stderr.
gboolean PrintTold(gpointer text) {
    fprintf(stderr, "%s\n", static_cast<const char*>(text));
    g_free(text);
    return G_SOURCE_REMOVE;
}

// Writes the trace's line `text` (g_strdup'ed) to stdout on the window's thread, so the reader
// never waits for stdout.
gboolean PrintTraced(gpointer text) {
    printf("%s\n", static_cast<const char*>(text));
    fflush(stdout);
    g_free(text);
    return G_SOURCE_REMOVE;
}

// Waits until the box has been dismissed or the stop signal is raised. Returns 1 when dismissed.
int WaitDismissedOrStop() {
    int r = WaitForDescriptor(g_errorBox.dismissedFd, POLLIN, kNoTimeLimit);
    return r > 0 && (r & POLLIN) != 0 ? 1 : 0;
}

}  // namespace

void PanelAttach(GtkWindow* window, GtkEntry* status, GtkEntry* logPath) {
    g_widgets = {window, status, logPath};
    g_errorBox.dismissedFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    OnLogPathChanged(GTK_EDITABLE(logPath), nullptr);
    g_signal_connect(logPath, "changed", G_CALLBACK(OnLogPathChanged), nullptr);
}

void FrontPortStateChanged() {
    g_idle_add(ShowPortStateChange, nullptr);
}

void FrontDismissErrorBox() {
    DestroyShownBox();
}

void FrontSetStatus(const char* label) {
    std::lock_guard<std::mutex> lock(g_status.mutex);
    g_status.text = label;
    if (!g_status.posted) {
        g_status.posted = true;
        g_idle_add(ShowPendingStatus, nullptr);
    }
}

void FrontTell(const char* line) {
    g_idle_add(PrintTold, g_strdup(line));
}

// The dialog has no place for the sockets open.
void FrontSocketCount(int) {}

void FrontTrace(const char* line) {
    g_idle_add(PrintTraced, g_strdup(line));
}

void FrontShowError(const char* text) {
    if (g_errorBox.dismissedFd < 0 || ReaderStopRaised()) {
        return;
    }
    unsigned number;
    {
        std::lock_guard<std::mutex> lock(g_errorBox.mutex);
        uint64_t drained;
        while (read(g_errorBox.dismissedFd, &drained, sizeof drained) > 0) {
        }
        number = ++g_errorBox.last;
        if (number == 0) {
            number = ++g_errorBox.last;  // 0 means "no request"
        }
        g_errorBox.text = text;
        g_errorBox.wanted = number;
    }
    g_idle_add(ShowErrorBox, GUINT_TO_POINTER(number));
    int dismissed = WaitDismissedOrStop();
    {
        std::lock_guard<std::mutex> lock(g_errorBox.mutex);
        g_errorBox.wanted = 0;
    }
    if (!dismissed) {
        g_idle_add(DismissErrorBoxOf, GUINT_TO_POINTER(number));
    }
}
