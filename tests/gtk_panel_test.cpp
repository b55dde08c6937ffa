// The GTK panel functions as the reader thread uses them, against real widgets on a private X
// display, and the USB port list.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "link/seams.h"
#include "sockets/net_shim.h"
#include "ui/gtk/panel_gtk.h"
#include "ui/gtk/usb_ports.h"

// The port functions the core needs; this test writes to no port.
void WritePort(const uint8_t*, size_t) {}
int PauseReader(unsigned) {
    return 1;
}

namespace {

using Clock = std::chrono::steady_clock;

// Runs the GTK main context until `done()` holds or two seconds pass. Returns whether it held.
template <typename F>
bool IterateUntil(F done) {
    auto deadline = Clock::now() + std::chrono::seconds(2);
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        g_main_context_iteration(nullptr, FALSE);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The error box on the screen, or nullptr.
GtkMessageDialog* ShownBox() {
    GtkMessageDialog* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w != nullptr; w = w->next) {
        if (GTK_IS_MESSAGE_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data))) {
            found = GTK_MESSAGE_DIALOG(w->data);
        }
    }
    g_list_free(windows);
    return found;
}

class GtkPanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!gtk_init_check(nullptr, nullptr)) {
            return;
        }
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        status = GTK_ENTRY(gtk_entry_new());
        logPath = GTK_ENTRY(gtk_entry_new());
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_container_add(GTK_CONTAINER(box), GTK_WIDGET(status));
        gtk_container_add(GTK_CONTAINER(box), GTK_WIDGET(logPath));
        gtk_container_add(GTK_CONTAINER(window), box);
        gtk_widget_show_all(window);
        PanelAttach(GTK_WINDOW(window), status, logPath);
    }

    void SetUp() override {
        if (window == nullptr) {
            GTEST_SKIP() << "no X display";
        }
        ClearReaderStop();
    }

    void TearDown() override {
        ClearReaderStop();
        PanelDismissErrorBox();
    }

    static GtkWidget* window;
    static GtkEntry* status;
    static GtkEntry* logPath;
};

GtkWidget* GtkPanelTest::window = nullptr;
GtkEntry* GtkPanelTest::status = nullptr;
GtkEntry* GtkPanelTest::logPath = nullptr;

TEST_F(GtkPanelTest, LogPathIsTheFieldAsItStandsCutToFit) {
    gtk_entry_set_text(logPath, "/tmp/traffic.log");
    char buf[260];
    std::string seen;
    std::thread reader([&] {
        size_t n = PanelGetLogPath(buf, sizeof buf);
        seen.assign(buf, n);
    });
    reader.join();
    EXPECT_EQ(seen, "/tmp/traffic.log");
    char small[5];
    EXPECT_EQ(PanelGetLogPath(small, sizeof small), 4u);
    EXPECT_STREQ(small, "/tmp");
    gtk_entry_set_text(logPath, "");
    EXPECT_EQ(PanelGetLogPath(buf, sizeof buf), 0u);
}

TEST_F(GtkPanelTest, ErrorBoxHoldsTheReaderUntilOk) {
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        PanelShowError("unkown command (05:07)");
        returned = true;
    });
    ASSERT_TRUE(IterateUntil([] { return ShownBox() != nullptr; }));
    GtkMessageDialog* box = ShownBox();
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(box)), "Error");
    GtkMessageType type;
    gchar* text = nullptr;
    g_object_get(box, "message-type", &type, "text", &text, nullptr);
    EXPECT_EQ(type, GTK_MESSAGE_ERROR);
    EXPECT_STREQ(text, "unkown command (05:07)");
    g_free(text);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(box)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(box)), GTK_WINDOW(window));

    // The reader keeps waiting while the box is up and the window is served.
    auto until = Clock::now() + std::chrono::milliseconds(300);
    IterateUntil([&] { return returned.load() || Clock::now() > until; });
    EXPECT_FALSE(returned.load());
    gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    EXPECT_TRUE(IterateUntil([&] { return returned.load(); }));
    reader.join();
    EXPECT_EQ(ShownBox(), nullptr);
}

TEST_F(GtkPanelTest, StopSignalReleasesTheReaderWithoutTheWindowsThread) {
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        PanelShowError("unkown command (11:02)");
        returned = true;
    });
    ASSERT_TRUE(IterateUntil([] { return ShownBox() != nullptr; }));
    // The window's thread raises the stop signal and joins the reader without serving the window
    // meanwhile, as closing the port does.
    RaiseReaderStop();
    reader.join();
    EXPECT_TRUE(returned.load());
    EXPECT_TRUE(IterateUntil([] { return ShownBox() == nullptr; }));
}

TEST_F(GtkPanelTest, StopBeforeTheBoxIsShownShowsNone) {
    std::thread reader([] { PanelShowError("unkown command (02:02)"); });
    RaiseReaderStop();
    reader.join();
    ClearReaderStop();
    // Whatever the reader managed to post is never shown once it has stopped waiting.
    for (int i = 0; i < 50; ++i) {
        g_main_context_iteration(nullptr, FALSE);
    }
    EXPECT_EQ(ShownBox(), nullptr);
}

TEST(UsbPorts, ListsUsbThenAcmPortsInNumberOrder) {
    char dir[] = "/tmp/zundrel-usb-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const char* names[] = {"ttyUSB10", "ttyACM1", "ttyUSB2", "ttyS0",
                           "ttyUSB",   "ttyUSBx", "ttyACM0", "ttyUSB0"};
    for (const char* name : names) {
        FILE* f = fopen((std::string(dir) + "/" + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
    std::string d = dir;
    std::vector<std::string> expected = {d + "/ttyUSB0", d + "/ttyUSB2", d + "/ttyUSB10",
                                         d + "/ttyACM0", d + "/ttyACM1"};
    EXPECT_EQ(ListUsbSerialPorts(dir), expected);
    for (const char* name : names) {
        unlink((std::string(dir) + "/" + name).c_str());
    }
    rmdir(dir);
    EXPECT_TRUE(ListUsbSerialPorts(dir).empty());
}

}  // namespace
