// The program entry and the control dialog of the Linux program: the window built from the
// "ZUNDRDLG" template, its start (socket library, COM1 at 9600 bit/s), the port and speed controls,
// and its end. Everything here runs on the window's thread.
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "serial/serial_link.h"
#include "serial/serial_posix.h"
#include "sockets/net_shim.h"
#include "ui/gtk/panel_gtk.h"
#include "ui/gtk/usb_ports.h"

extern "C" void zundrel_register_resource(void);

namespace {

constexpr int kComPorts = 4;  // "COM1:" to "COM4:", then the USB serial ports

// The one control dialog of the run.
struct ControlDialog {
    GtkWindow* window;
    GtkComboBoxText* ports;
    GtkToggleButton* speed9600;
    GtkToggleButton* speed38400;
    GtkEntry* status;
    GtkEntry* logPath;
    std::vector<int> portNumbers;  // the serial port number of each list item
    bool ended;
};
ControlDialog g_dialog;

// Fills the port list: "COM1:" to "COM4:", then the USB serial ports present now, shown by their
// paths and added to the serial port table under the next numbers.
void FillPortList() {
    for (int i = 1; i <= kComPorts; ++i) {
        std::string name = "COM" + std::to_string(i) + ":";
        gtk_combo_box_text_append_text(g_dialog.ports, name.c_str());
        g_dialog.portNumbers.push_back(i);
    }
    for (const std::string& path : ListUsbSerialPorts("/dev")) {
        int number = AddSerialPort(path.c_str(), path.c_str());
        if (number == 0) {
            break;  // the table is full
        }
        gtk_combo_box_text_append_text(g_dialog.ports, path.c_str());
        g_dialog.portNumbers.push_back(number);
    }
}

// Cancel: close box, Esc or the window manager's close. Releases the sockets, closes the port
// (which stops the reader) and ends the program.
void EndDialog() {
    if (g_dialog.ended) {
        return;
    }
    g_dialog.ended = true;
    NetCleanup();
    ClosePort();
    PanelDismissErrorBox();
    gtk_main_quit();
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
        SetBaudRate(GPOINTER_TO_UINT(data));
    }
}

void OnPortChanged(GtkComboBox* list, gpointer) {
    int index = gtk_combo_box_get_active(list);
    if (index < 0 || static_cast<size_t>(index) >= g_dialog.portNumbers.size()) {
        return;
    }
    ClosePort();
    PanelDismissErrorBox();
    OpenPort(g_dialog.portNumbers[index]);
}

// Applies the dialog's font and control metrics to the whole program.
void LoadStyle() {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_resource(css, "/org/zundrel/zundrel.css");
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

// Builds the dialog from its template and keeps its controls.
void CreateDialog() {
    GtkBuilder* builder = gtk_builder_new_from_resource("/org/zundrel/zundrel.ui");
    g_dialog.window = GTK_WINDOW(gtk_builder_get_object(builder, "ZUNDRDLG"));
    g_dialog.ports = GTK_COMBO_BOX_TEXT(gtk_builder_get_object(builder, "port_list"));
    g_dialog.speed9600 = GTK_TOGGLE_BUTTON(gtk_builder_get_object(builder, "speed_9600"));
    g_dialog.speed38400 = GTK_TOGGLE_BUTTON(gtk_builder_get_object(builder, "speed_38400"));
    g_dialog.status = GTK_ENTRY(gtk_builder_get_object(builder, "status"));
    g_dialog.logPath = GTK_ENTRY(gtk_builder_get_object(builder, "log_path"));
    g_object_unref(builder);  // the toplevel window keeps itself and its controls alive

    // Long device paths lose their start in the closed list, which keeps its rectangle; the
    // opened list shows them in full.
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(g_dialog.ports));
    for (GList* c = cells; c != nullptr; c = c->next) {
        g_object_set(c->data, "ellipsize", PANGO_ELLIPSIZE_START, nullptr);
    }
    g_list_free(cells);
}

// The dialog's start: socket library, 9600 checked, the port list with COM1: selected, COM1 opened
// at 9600 bit/s. The signals are connected last, so the start itself triggers none of them.
void InitDialog() {
    PanelAttach(g_dialog.window, g_dialog.status, g_dialog.logPath);
    NetStartup();
    gtk_toggle_button_set_active(g_dialog.speed9600, TRUE);
    FillPortList();
    gtk_combo_box_set_active(GTK_COMBO_BOX(g_dialog.ports), 0);
    OpenPort(1);
    SetBaudRate(9600);

    g_signal_connect(g_dialog.window, "delete-event", G_CALLBACK(OnDeleteEvent), nullptr);
    g_signal_connect(g_dialog.window, "key-press-event", G_CALLBACK(OnKeyPress), nullptr);
    g_signal_connect(g_dialog.speed9600, "clicked", G_CALLBACK(OnSpeedClicked),
                     GUINT_TO_POINTER(9600));
    g_signal_connect(g_dialog.speed38400, "clicked", G_CALLBACK(OnSpeedClicked),
                     GUINT_TO_POINTER(38400));
    g_signal_connect(g_dialog.ports, "changed", G_CALLBACK(OnPortChanged), nullptr);
}

}  // namespace

// Shows the control dialog and returns 0 when the user has closed it.
int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    zundrel_register_resource();
    LoadStyle();
    CreateDialog();
    InitDialog();
    gtk_widget_show_all(GTK_WIDGET(g_dialog.window));
    gtk_main();
    return 0;
}
