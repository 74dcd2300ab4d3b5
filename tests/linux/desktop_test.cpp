// The desktop bindings on the real Linux layer, against a real X display (Xvfb) and a
// private session bus with a stand-in notification server: attention, in-front test,
// clipboard (also across processes), notifications and their click, and autostart.
#include <gtk/gtk.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/platform/linux/autostart_entry.h"
#include "app/platform/process.h"
#include "tests/linux/fake_notifications.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"

// Runs the main loop until done() or about timeout_ms passed.
template <class F>
static bool pump_until(F done, int timeout_ms = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_usleep(10000);
  }
  return true;
}

static void pump_for(int ms) {
  pump_until([] { return false; }, ms);
}

class Desktop : public ::testing::Test {
 protected:
  static GtkWidget *window;
  static void SetUpTestSuite() {
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "mosswire");
    gtk_window_set_default_size(GTK_WINDOW(window), 300, 200);
  }
  void SetUp() override {
    host.window = window;
    host_reset();
  }
  static bool show_in_front(GtkWidget *w) {
    gtk_widget_show(w);
    gtk_window_present(GTK_WINDOW(w));
    return pump_until([w] { return gtk_window_is_active(GTK_WINDOW(w)) != FALSE; });
  }
};
GtkWidget *Desktop::window = nullptr;

TEST_F(Desktop, FocusedOnlyWhenShownAndActive) {
  gtk_widget_hide(window);
  pump_for(50);
  EXPECT_EQ(call_binding("msw_focused", "[]"), "false");
  ASSERT_TRUE(show_in_front(window));
  EXPECT_EQ(call_binding("msw_focused", "[]"), "true");

  GtkWidget *other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  ASSERT_TRUE(show_in_front(other));
  ASSERT_TRUE(pump_until([] { return !gtk_window_is_active(GTK_WINDOW(window)); }));
  EXPECT_EQ(call_binding("msw_focused", "[]"), "false");
  gtk_widget_destroy(other);

  host.window = nullptr;
  EXPECT_EQ(call_binding("msw_focused", "[]"), "false");
}

TEST_F(Desktop, AttentionMarksTheWindowUrgentUntilItIsActive) {
  GtkWidget *other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  ASSERT_TRUE(show_in_front(window));
  ASSERT_TRUE(show_in_front(other));
  ASSERT_TRUE(pump_until([] { return !gtk_window_is_active(GTK_WINDOW(window)); }));
  EXPECT_EQ(call_binding("msw_attention", "[]"), "null");
  EXPECT_TRUE(gtk_window_get_urgency_hint(GTK_WINDOW(window)));
  ASSERT_TRUE(show_in_front(window));
  EXPECT_TRUE(pump_until([] { return !gtk_window_get_urgency_hint(GTK_WINDOW(window)); }));
  // Never on the window the user is already using.
  EXPECT_EQ(call_binding("msw_attention", "[]"), "null");
  EXPECT_FALSE(gtk_window_get_urgency_hint(GTK_WINDOW(window)));
  gtk_widget_destroy(other);
  host.window = nullptr;
  EXPECT_EQ(call_binding("msw_attention", "[]"), "null");
}

// --- clipboard

// Another process reads or writes the clipboard, so the text really crosses X.
static std::string other_process(const char *mode, const char *text) {
  std::string command = std::string("'") + executable_path() + "' " + mode;
  if (text) command += std::string(" '") + text + "'";
  return run_command(command);
}

TEST_F(Desktop, ClipboardRoundTripsTextOutsideTheBasicPlane) {
  EXPECT_EQ(call_binding("msw_copy", "[\"MSW2.abc \\ud83d\\ude00 \xf0\x9f\x8c\xbf \xc3\xa9\"]"),
            "null");
  EXPECT_EQ(call_binding("msw_paste", "[]"), "\"MSW2.abc \xf0\x9f\x98\x80 \xf0\x9f\x8c\xbf \xc3\xa9\"");
  // The main loop must run while the other process asks this one for the text.
  std::string read_back;
  std::atomic<bool> finished(false);
  std::thread reader([&] {
    read_back = other_process("--read-clipboard", nullptr);
    finished = true;
  });
  pump_until([&] { return finished.load(); }, 20000);
  reader.join();
  EXPECT_EQ(read_back, "MSW2.abc \xf0\x9f\x98\x80 \xf0\x9f\x8c\xbf \xc3\xa9");

  EXPECT_EQ(call_binding("msw_copy", "[12]"), "null");  // a number is copied as its digits
  EXPECT_EQ(call_binding("msw_paste", "[]"), "\"12\"");
  EXPECT_EQ(call_binding("msw_copy", "[]"), "null");  // no text: nothing changes
  EXPECT_EQ(call_binding("msw_paste", "[]"), "\"12\"");
  EXPECT_EQ(call_binding("msw_copy", "[\"\"]"), "null");
  EXPECT_EQ(call_binding("msw_paste", "[]"), "\"\"");
}

TEST_F(Desktop, PasteReadsAnotherProgramsTextAndNothingFromAnImage) {
  FILE *writer = popen(("'" + executable_path() + "' --write-clipboard 'from \xf0\x9f\x90\xb8 there'").c_str(), "r");
  ASSERT_NE(writer, nullptr);
  char line[64] = {0};
  ASSERT_NE(fgets(line, sizeof line, writer), nullptr);  // it owns the clipboard now
  std::string pasted = call_binding("msw_paste", "[]");
  pclose(writer);
  EXPECT_EQ(pasted, "\"from \xf0\x9f\x90\xb8 there\"");

  GdkPixbuf *image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4, 4);
  gdk_pixbuf_fill(image, 0x336633ff);
  gtk_clipboard_set_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), image);
  g_object_unref(image);
  EXPECT_EQ(call_binding("msw_paste", "[]"), "null");
}

// --- notifications

TEST_F(Desktop, NotificationsShowTitleAndBodyAndAClickShowsTheWindow) {
  size_t before = fake_notifications_shown().size();
  GdkPixbuf *icon = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 48, 48);
  gdk_pixbuf_fill(icon, 0x2e7d32ff);
  gtk_window_set_icon(GTK_WINDOW(window), icon);
  g_object_unref(icon);
  EXPECT_EQ(call_binding("msw_notify_setup", "[]"), "null");
  EXPECT_EQ(call_binding("msw_notify", "[\"Ada\",\"hello \xf0\x9f\x8c\xbf\"]"), "null");
  auto shown = fake_notifications_shown();
  ASSERT_EQ(shown.size(), before + 1);
  EXPECT_EQ(shown.back().app, "mosswire");
  EXPECT_EQ(shown.back().summary, "Ada");
  EXPECT_EQ(shown.back().body, "hello \xf0\x9f\x8c\xbf");
  ASSERT_FALSE(shown.back().actions.empty());
  EXPECT_EQ(shown.back().actions[0], "default");
  // The window's icon travels as the notification's image (its hint name depends on the
  // protocol version libnotify settles on).
  auto &hints = shown.back().hints;
  int image_hints = 0;
  for (const char *hint : {"image-data", "image_data", "icon_data"})
    image_hints += (int)std::count(hints.begin(), hints.end(), hint);
  EXPECT_EQ(image_hints, 1) << ::testing::PrintToString(hints);

  fake_notifications_click(shown.back().id, "default");
  EXPECT_TRUE(pump_until([] { return host.show_calls > 0; }));
  EXPECT_EQ(host.show_calls, 1);
}

TEST_F(Desktop, NotificationsNeedBothTextsAWindowAndFieldsThatFit) {
  size_t before = fake_notifications_shown().size();
  EXPECT_EQ(call_binding("msw_notify", "[\"only a title\"]"), "null");
  EXPECT_EQ(call_binding("msw_notify", "[]"), "null");
  host.window = nullptr;
  EXPECT_EQ(call_binding("msw_notify", "[\"t\",\"b\"]"), "null");
  host.window = Desktop::window;
  EXPECT_EQ(fake_notifications_shown().size(), before);

  std::string body160(160, 'b'), title64(64, 't');
  std::string args = "[\"" + title64 + "\",\"" + body160 + "\"]";
  EXPECT_EQ(call_binding("msw_notify", args.c_str()), "null");
  auto shown = fake_notifications_shown();
  ASSERT_EQ(shown.size(), before + 1);
  // A title too long for its field is dropped and the body shows alone.
  EXPECT_EQ(shown.back().summary, body160);
  EXPECT_EQ(shown.back().body, "");

  // A tray icon that can't be added does not stop the notification here.
  host.tray_present = false;
  EXPECT_EQ(call_binding("msw_notify", "[\"t\",\"b\"]"), "null");
  EXPECT_EQ(fake_notifications_shown().size(), before + 2);
}

// --- autostart

TEST(Autostart, EntryQuotesThePathForTheExecLine) {
  std::string entry;
  ASSERT_TRUE(autostart_entry_text("/opt/mosswire/mosswire", &entry));
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(entry.find("\nExec=\"/opt/mosswire/mosswire\"\n"), std::string::npos);
  ASSERT_TRUE(autostart_entry_text("/home/a b/$x`y\"z\\w/100%/mosswire", &entry));
  EXPECT_NE(entry.find("\nExec=\"/home/a b/\\\\$x\\\\`y\\\\\"z\\\\\\\\w/100%%/mosswire\"\n"),
            std::string::npos)
      << entry;
  EXPECT_FALSE(autostart_entry_text("relative/mosswire", &entry));
  EXPECT_FALSE(autostart_entry_text("/a\nb", &entry));
  EXPECT_FALSE(autostart_entry_text("", &entry));
}

TEST(Autostart, BindingAddsAndRemovesTheEntry) {
  std::string path = autostart_entry_path();
  EXPECT_EQ(path, test_home() + "/config/autostart/mosswire.desktop");
  EXPECT_EQ(call_binding("msw_startup", "[false]"), "true");  // nothing there: still true
  EXPECT_EQ(call_binding("msw_startup", "[true]"), "true");
  std::string entry = read_text(path);
  EXPECT_NE(entry.find("\nExec=\"" + executable_path() + "\"\n"), std::string::npos) << entry;
  EXPECT_EQ(mode_of(path), 0644u);
  EXPECT_FALSE(exists(path + ".tmp"));
  EXPECT_EQ(call_binding("msw_startup", "[\"true\"]"), "true");
  EXPECT_EQ(call_binding("msw_startup", "[1]"), "true");  // 1 is not true: removes
  EXPECT_FALSE(exists(path));
  EXPECT_EQ(call_binding("msw_startup", "[]"), "true");
  EXPECT_FALSE(exists(path));
  // A folder in the way: the change can't be made and the answer says so.
  mkdir(path.c_str(), 0700);
  write_text(path + "/x", "");
  EXPECT_EQ(call_binding("msw_startup", "[true]"), "false");
  EXPECT_EQ(call_binding("msw_startup", "[false]"), "false");
  remove_tree(path);
}

int main(int argc, char **argv) {
  if (argc >= 2 && std::string(argv[1]) == "--read-clipboard") {
    gtk_init(nullptr, nullptr);
    gchar *text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    if (text) fputs(text, stdout);
    return 0;
  }
  if (argc >= 3 && std::string(argv[1]) == "--write-clipboard") {
    gtk_init(nullptr, nullptr);
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), argv[2], -1);
    printf("owning\n");
    fflush(stdout);
    // Serve the selection for a while; the reader asks within this time.
    pump_for(2000);
    return 0;
  }
  isolate_environment(true);
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "no display\n");
    return 1;
  }
  if (!fake_notifications_start()) {
    fprintf(stderr, "no session bus for the notification server\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  fake_notifications_stop();
  return rc;
}
