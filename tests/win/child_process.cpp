#include "tests/win/child_process.h"

#include <chrono>

#include "app/platform/win/wide.h"

std::string this_program(void) {
  wchar_t path[4096];
  DWORD n = GetModuleFileNameW(nullptr, path, 4096);
  return narrow(std::wstring(path, n));
}

double monotonic_ms(void) {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

static std::wstring quoted(const std::string &arg) { return L"\"" + widen(arg) + L"\""; }

child_process::child_process(const std::string &program, const std::vector<std::string> &args) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE out_write = nullptr;
  if (!CreatePipe(&out_read, &out_write, &inheritable, 0)) return;
  // Only the write end goes to the child; the tests start children one at a time from
  // one thread, so no other child inherits it by accident.
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  std::wstring command = quoted(program);
  for (const std::string &arg : args) command += L" " + quoted(arg);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out_write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info = {};
  if (CreateProcessW(widen(program).c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    process = info.hProcess;
  }
  CloseHandle(out_write);
  reader = std::thread([this] { read_all(); });
}

void child_process::read_all() {
  char piece[512];
  DWORD n = 0;
  while (ReadFile(out_read, piece, sizeof piece, &n, nullptr) && n > 0) {
    std::lock_guard<std::mutex> hold(lock);
    buffer.append(piece, n);
    grown.notify_all();
  }
  std::lock_guard<std::mutex> hold(lock);
  closed = true;
  grown.notify_all();
}

std::string child_process::line(const std::string &prefix, int timeout_ms) {
  std::unique_lock<std::mutex> hold(lock);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t end;
    while ((end = buffer.find('\n')) != std::string::npos) {
      std::string text = buffer.substr(0, end);
      buffer.erase(0, end + 1);
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (text.compare(0, prefix.size(), prefix) == 0) return text;
    }
    if (closed) return "<closed>";
    if (grown.wait_until(hold, deadline) == std::cv_status::timeout) return "<timeout>";
  }
}

long child_process::wait_exit(int timeout_ms) {
  if (!process || WaitForSingleObject(process, (DWORD)timeout_ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return (long)code;
}

void child_process::kill() {
  if (process && WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
    TerminateProcess(process, 9);
    WaitForSingleObject(process, 10000);
  }
}

child_process::~child_process() {
  kill();
  if (process) CloseHandle(process);
  // The pipe ends with the child: it is its only holder of the write end, and children
  // start their own children without handing handles down.
  if (reader.joinable()) reader.join();
  if (out_read) CloseHandle(out_read);
}
