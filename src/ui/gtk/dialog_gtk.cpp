// The program entry and the control dialog of the Linux program: the window built from the
// "ZUNDRDLG" template, drawn here and forwarded to the controller (control/controller.h).
// Everything here runs on the window's thread.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "control/controller.h"
#include "control/options.h"
#include "ui/dialog_template.h"
#include "ui/gtk/panel_gtk.h"

extern "C" void zundrel_register_resource(void);

namespace {

// The one control dialog of the run.
struct ControlDialog {
    GtkWindow* window;
    GtkComboBoxText* ports;
    GtkToggleButton* speed9600;
    GtkToggleButton* speed38400;
    GtkEntry* status;
    GtkEntry* logPath;
};
ControlDialog g_dialog;

// Cancel: close box, Esc or the window manager's close ends the program.
void EndDialog() {
    if (ControlEnd()) {
        gtk_main_quit();
    }
}

gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer) {
    EndDialog();
    return TRUE;
}

// Keys pressed anywhere in the dialog: Esc ends it; Enter does nothing, wherever the focus is (the
// port list, which has it at start, would otherwise open on it), as in the Windows dialog. Every
// other key goes to the focused control: Space and Alt+Down still open the port list.
gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer) {
    switch (event->keyval) {
        case GDK_KEY_Escape:
            EndDialog();
            return TRUE;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            return TRUE;
        default:
            return FALSE;
    }
}

// A click on a speed button, including one on the button already checked, sets that speed. The
// button that a click on the other one unchecks also reports a click, and is ignored.
void OnSpeedClicked(GtkButton* button, gpointer data) {
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button))) {
        ControlSetSpeed(GPOINTER_TO_UINT(data));
    }
}

void OnPortChanged(GtkComboBox* list, gpointer) {
    ControlPickPort(gtk_combo_box_get_active(list));
}

// The port list opens: it is brought up to date first.
void OnPortPopupShown(GObject* list, GParamSpec*, gpointer) {
    gboolean shown = FALSE;
    g_object_get(list, "popup-shown", &shown, nullptr);
    if (shown) {
        ControlRefreshPorts();
    }
}

// Applies the dialog's font and control metrics to the whole program.
void LoadStyle() {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_resource(css, "/org/zundrel/zundrel.css");
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

// The template's controls, by their ids in zundrel.ui, and their rectangles in dialog units (left,
// top, width, height).
struct TemplateRect {
    const char* id;
    int left, top, width, height;
};
constexpr TemplateRect kTemplate[] = {
    {"port_label", ZUNDRDLG_PORT_LABEL},   {"port_list", ZUNDRDLG_PORT_LIST},
    {"speed_group", ZUNDRDLG_SPEED_GROUP}, {"speed_9600", ZUNDRDLG_SPEED_9600},
    {"speed_38400", ZUNDRDLG_SPEED_38400}, {"log_label", ZUNDRDLG_LOG_LABEL},
    {"log_path", ZUNDRDLG_LOG_PATH},       {"status_group", ZUNDRDLG_STATUS_GROUP},
    {"status", ZUNDRDLG_STATUS},
};
// The closed port list is one line high, as the log field, an edit field, is.
constexpr int kClosedListHeight = TemplateRect{"", ZUNDRDLG_LOG_PATH}.height;
constexpr int kDialogSize[] = {ZUNDRDLG_SIZE};

// The Japanese gothic fonts of a Linux desktop are wider than the template's "ＭＳ Ｐゴシック":
// the dialog unit they give is enlarged by this one factor, so that the template's texts fit. The
// tightest of them, "38400bps", needs 1.09 with IPAPGothic; the rest is room for other fonts.
constexpr double kSubstituteFontFactor = 1.15;

// The dialog unit in pixels, derived from the dialog's font as it is drawn (the user's text size
// included), the way a Windows dialog derives it: a quarter of the average width of the 52 Latin
// letters across, an eighth of the font's height down; then the substitute font's factor.
void DialogUnit(GtkWidget* widget, double* across, double* down) {
    PangoLayout* text = gtk_widget_create_pango_layout(
        widget, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    PangoRectangle extent;
    pango_layout_get_extents(text, nullptr, &extent);
    g_object_unref(text);
    *across = extent.width / double{PANGO_SCALE} / 52 / 4 * kSubstituteFontFactor;
    *down = extent.height / double{PANGO_SCALE} / 8 * kSubstituteFontFactor;
}

// Sets each control at its template rectangle, in pixels of the dialog unit derived from the font,
// and the dialog at its template's size. Edges are rounded, so neighbouring controls never overlap.
void LayOutDialog(GtkBuilder* builder) {
    GtkLayout* client = GTK_LAYOUT(gtk_builder_get_object(builder, "client"));
    double across;
    double down;
    DialogUnit(GTK_WIDGET(gtk_builder_get_object(builder, "port_label")), &across, &down);
    for (const TemplateRect& r : kTemplate) {
        GtkWidget* control = GTK_WIDGET(gtk_builder_get_object(builder, r.id));
        int left = static_cast<int>(std::lround(r.left * across));
        int top = static_cast<int>(std::lround(r.top * down));
        int height = strcmp(r.id, "port_list") == 0 ? kClosedListHeight : r.height;
        gtk_widget_set_size_request(
            control, static_cast<int>(std::lround((r.left + r.width) * across)) - left,
            static_cast<int>(std::lround((r.top + height) * down)) - top);
        gtk_layout_move(client, control, left, top);
    }
    gtk_widget_set_size_request(GTK_WIDGET(client),
                                static_cast<int>(std::lround(kDialogSize[0] * across)),
                                static_cast<int>(std::lround(kDialogSize[1] * down)));
}

// Builds the dialog from its template, lays it out and keeps its controls.
void CreateDialog() {
    GtkBuilder* builder = gtk_builder_new_from_resource("/org/zundrel/zundrel.ui");
    g_dialog.window = GTK_WINDOW(gtk_builder_get_object(builder, "ZUNDRDLG"));
    g_dialog.ports = GTK_COMBO_BOX_TEXT(gtk_builder_get_object(builder, "port_list"));
    g_dialog.speed9600 = GTK_TOGGLE_BUTTON(gtk_builder_get_object(builder, "speed_9600"));
    g_dialog.speed38400 = GTK_TOGGLE_BUTTON(gtk_builder_get_object(builder, "speed_38400"));
    g_dialog.status = GTK_ENTRY(gtk_builder_get_object(builder, "status"));
    g_dialog.logPath = GTK_ENTRY(gtk_builder_get_object(builder, "log_path"));
    LayOutDialog(builder);
    g_object_unref(builder);  // the toplevel window keeps itself and its controls alive

    // Long device paths lose their start in the closed list, which keeps its rectangle; the
    // opened list shows them in full.
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(g_dialog.ports));
    for (GList* c = cells; c != nullptr; c = c->next) {
        g_object_set(c->data, "ellipsize", PANGO_ELLIPSIZE_START, nullptr);
    }
    g_list_free(cells);
}

// The controller's port policy: a port that did not open is tried again every second.
gboolean OnEverySecond(gpointer) {
    ControlEverySecond();
    return G_SOURCE_CONTINUE;
}

// Replaces the program with zundrel-headless from the program's own folder, given the same
// arguments. Returns the exit status 1, with a line on stderr, when it cannot be started.
int ExecHeadless(char** argv) {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 32);
    path[n > 0 ? n : 0] = '\0';
    char* slash = strrchr(path, '/');
    if (slash != nullptr) {
        strcpy(slash + 1, "zundrel-headless");
        execv(path, argv);
    }
    fprintf(stderr, "zundrel: --headless: cannot run %s: %s\n",
            slash != nullptr ? path : "zundrel-headless", strerror(errno));
    return 1;
}

// The dialog's start: the command line's log path in its field, then the controller starts (with
// the port and speed the command line preselected). The signals are connected last, so the start
// itself triggers none of them.
void InitDialog(const char* logPath) {
    gtk_entry_set_text(g_dialog.logPath, logPath);
    PanelAttach(g_dialog.window, g_dialog.status, g_dialog.logPath);
    ControlStart();
    g_timeout_add(kControlTickMs, OnEverySecond, nullptr);

    g_signal_connect(g_dialog.window, "delete-event", G_CALLBACK(OnDeleteEvent), nullptr);
    g_signal_connect(g_dialog.window, "key-press-event", G_CALLBACK(OnKeyPress), nullptr);
    g_signal_connect(g_dialog.speed9600, "clicked", G_CALLBACK(OnSpeedClicked),
                     GUINT_TO_POINTER(9600));
    g_signal_connect(g_dialog.speed38400, "clicked", G_CALLBACK(OnSpeedClicked),
                     GUINT_TO_POINTER(38400));
    g_signal_connect(g_dialog.ports, "changed", G_CALLBACK(OnPortChanged), nullptr);
    g_signal_connect(g_dialog.ports, "notify::popup-shown", G_CALLBACK(OnPortPopupShown), nullptr);
}

}  // namespace

void FrontCheckSpeed(unsigned speed) {
    gtk_toggle_button_set_active(speed == 9600 ? g_dialog.speed9600 : g_dialog.speed38400, TRUE);
}

void FrontAddPortItem(const char* label) {
    gtk_combo_box_text_append_text(g_dialog.ports, label);
}

void FrontSelectPortItem(int index) {
    g_signal_handlers_block_by_func(g_dialog.ports, gpointer(OnPortChanged), nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(g_dialog.ports), index);
    g_signal_handlers_unblock_by_func(g_dialog.ports, gpointer(OnPortChanged), nullptr);
}

void FrontRemovePortItems(int from) {
    GtkTreeModel* items = gtk_combo_box_get_model(GTK_COMBO_BOX(g_dialog.ports));
    g_signal_handlers_block_by_func(g_dialog.ports, gpointer(OnPortChanged), nullptr);
    for (int n = gtk_tree_model_iter_n_children(items, nullptr); n > from; --n) {
        gtk_combo_box_text_remove(g_dialog.ports, n - 1);
    }
    g_signal_handlers_unblock_by_func(g_dialog.ports, gpointer(OnPortChanged), nullptr);
}

void FrontSetPortTip(const char* text) {
    gtk_widget_set_tooltip_text(GTK_WIDGET(g_dialog.ports), text);
    fprintf(stderr, "%s\n", text);
}

// Shows the control dialog and returns 0 when the user has closed it; see zundrel --help.
int main(int argc, char** argv) {
    StartOptions options;
    int ended = ReadCommandLine("zundrel", argc, argv, &options);
    if (ended >= 0) {
        return ended;
    }
    if (options.headless) {
        return ExecHeadless(argv);
    }
    int gtkArgc = 1;  // the options are the program's own; GTK takes none of them
    gtk_init(&gtkArgc, &argv);
    zundrel_register_resource();
    LoadStyle();
    CreateDialog();
    InitDialog(options.logPath);
    gtk_widget_show_all(GTK_WIDGET(g_dialog.window));
    gtk_main();
    return 0;
}
