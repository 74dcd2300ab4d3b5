// Shutdown against the threads that answer the page: once start-up has released the web
// view, no worker's reply or task may still be on its way into it, as it is deleted next.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/host/desktop_host.h"
#include "app/host/host.h"

namespace {

// A view whose posting takes a while, so a worker is nearly always in the middle of one.
class slow_view : public webview::engine {
 public:
  std::atomic<int> inside{0}, posted{0}, late{0};
  std::atomic<bool> released{false};
  void run() override {}
  void terminate() override {}
  void set_title(const std::string &) override {}
  void set_size(int, int, bool) override {}
  void navigate(const std::string &) override {}
  void eval(const std::string &) override {}
  void *window() override { return nullptr; }

 protected:
  void *add_script_impl(const std::string &) override { return nullptr; }
  void remove_all_scripts_impl() override {}
  void dispatch_impl(std::function<void()>) override {
    inside++;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (released) late++;
    posted++;
    inside--;
  }
};

TEST(Shutdown, NoWorkerPostsToTheViewOnceItIsReleased) {
  slow_view view;
  host_view = &view;
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop) {
      host_dispatch([](void *) {}, nullptr);
      host_reply("id", "null");
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  host_release_view();
  view.released = true;
  EXPECT_EQ(view.inside, 0) << "a post was still on its way when the view was released";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop = true;
  worker.join();
  EXPECT_GT(view.posted, 0);
  EXPECT_EQ(view.late, 0);
}

}  // namespace
