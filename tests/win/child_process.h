#pragma once
// A child process for the Windows tests: started with arguments, its standard output
// read line by line as it comes, its exit code waited for. Ended when the record goes.
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct child_process {
  HANDLE process = nullptr;
  explicit child_process(const std::string &program, const std::vector<std::string> &args);
  ~child_process();
  child_process(const child_process &) = delete;
  child_process &operator=(const child_process &) = delete;

  bool started() const { return process != nullptr; }
  // The next line that starts with prefix (lines before it are dropped), or "<timeout>"
  // when none came within timeout_ms, or "<closed>" when the output ended first.
  std::string line(const std::string &prefix, int timeout_ms = 15000);
  // The exit code, or -1 while it still runs after timeout_ms.
  long wait_exit(int timeout_ms);
  void kill();

 private:
  HANDLE out_read = nullptr;
  std::thread reader;
  std::mutex lock;
  std::condition_variable grown;
  std::string buffer;
  bool closed = false;
  void read_all();
};

// The running test program, for starting it again in another role.
std::string this_program(void);

double monotonic_ms(void);
