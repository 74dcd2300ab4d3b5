// EmbeddedBrowserWebView.dll for the real program's test: the stand-in browser of
// webview2_doubles behind the runtime's own entry point, so that mosswire.exe, finding it
// through the registry, starts with it as with the real runtime. Once the program has
// navigated, the stand-in page fetches the address it was given and calls msw_title the
// way the page's bridge does; when the reply script has run it writes what it saw to the
// file named by MSW_STAND_IN_REPORT.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <fstream>
#include <string>

#include "app/platform/win/webview2_engine.h"
#include "app/platform/win/wide.h"
#include "tests/win/webview2_doubles.h"

namespace {

fake::browser *browser = nullptr;
int step = 0;
const std::wstring call_id = L"feedc0defeedc0defeedc0defeedc0de";

// GET of a loopback address: the status line and the body's length, as the page's own
// load would see them.
std::string fetch(const std::wstring &url) {
  std::string address = narrow(url);
  const std::string prefix = "http://127.0.0.1:";
  if (address.compare(0, prefix.size(), prefix) != 0) return "not a loopback address";
  size_t slash = address.find('/', prefix.size());
  int port = atoi(address.substr(prefix.size(), slash - prefix.size()).c_str());
  std::string path = address.substr(slash);
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
    closesocket(s);
    return "no connection";
  }
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  send(s, request.data(), static_cast<int>(request.size()), 0);
  std::string answer;
  char buffer[4096];
  int n;
  while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
  closesocket(s);
  size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos) return "no answer";
  return answer.substr(0, answer.find("\r\n")) + " body " + std::to_string(answer.size() - end - 4);
}

HWND program_window() {
  struct search {
    HWND found;
  } s{nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        wchar_t name[32];
        if (pid == GetCurrentProcessId() && GetClassNameW(hwnd, name, 32) && lstrcmpW(name, L"webview") == 0) {
          reinterpret_cast<search *>(p)->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

void report() {
  wchar_t path[1024];
  if (!GetEnvironmentVariableW(L"MSW_STAND_IN_REPORT", path, 1024)) return;
  std::ofstream out(path, std::ios::binary);
  out << "data " << narrow(browser->data_folder) << "\n";
  for (const auto &url : browser->navigations) out << "navigate " << narrow(url) << "\n";
  if (!browser->navigations.empty()) out << "fetch " << fetch(browser->navigations.back()) << "\n";
  out << "scripts " << browser->scripts.size() << "\n";
  for (const auto &script : browser->scripts) {
    std::string text = narrow(script.second);
    size_t names = text.find("var methods = ");
    if (text.find("window.chrome.webview.postMessage(message)") != std::string::npos) out << "script bridge\n";
    if (names != std::string::npos)
      out << "script bind " << text.substr(names + 14, text.find(';', names) - names - 14) << "\n";
  }
  for (const auto &script : browser->executed)
    if (script.find(L"onReply(") != std::wstring::npos) out << "reply " << narrow(script) << "\n";
  HWND window = program_window();
  wchar_t title[256] = L"";
  if (window) GetWindowTextW(window, title, 256);
  out << "title " << narrow(title) << "\n";
  out << "devtools " << browser->dev_tools << " statusbar " << browser->status_bar << " visible "
      << browser->visible << "\n";
  out << "done\n";
}

// The stand-in page, one step per tick of the program's own message loop.
void CALLBACK tick(HWND, UINT, UINT_PTR timer, DWORD) {
  if (step == 0 && browser->document != L"about:blank" && browser->message_handler) {
    browser->page_posts(L"{\"id\":\"" + call_id + L"\",\"method\":\"msw_title\",\"params\":[\"from the page\"]}");
    step = 1;
  } else if (step == 1) {
    for (const auto &script : browser->executed)
      if (script.find(L"onReply(\"" + call_id + L"\"") != std::wstring::npos) step = 2;
    if (step == 2) {
      KillTimer(nullptr, timer);
      report();
    }
  }
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    BOOL, int, LPCWSTR user_data_folder, IUnknown *, webview::environment_handler *handler) {
  if (!browser) {
    browser = new fake::browser();  // lives as long as the program
    SetTimer(nullptr, 0, 100, tick);
  }
  return browser->runtime().create_environment(user_data_folder ? user_data_folder : L"", handler);
}
