#include "app/platform/download.h"

#include <windows.h>
#include <winhttp.h>
#include <stdlib.h>

#include "app/platform/files.h"
#include "app/platform/log.h"
#include "app/platform/win/wide.h"

namespace {

// One WinHTTP handle, closed when it goes out of scope.
struct http_handle {
  HINTERNET handle = nullptr;
  explicit http_handle(HINTERNET h) : handle(h) {}
  ~http_handle() {
    if (handle) WinHttpCloseHandle(handle);
  }
  http_handle(const http_handle &) = delete;
  http_handle &operator=(const http_handle &) = delete;
};

struct address {
  bool secure = false;
  std::wstring host, object;
  INTERNET_PORT port = 0;
};

// WinHTTP's own error codes (12001 and up) have their texts in winhttp.dll.
std::string failure_text(DWORD code) {
  wchar_t *text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           GetModuleHandleW(L"winhttp.dll"), code, 0, (wchar_t *)&text, 0, nullptr);
  std::string out;
  if (n) {
    while (n && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ')) n--;
    out = narrow(std::wstring(text, n));
  }
  if (text) LocalFree(text);
  return out.empty() ? error_text(code) : out;
}

bool split_address(const std::string &url, address *out) {
  std::wstring wide = widen(url);
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
      parts.dwExtraInfoLength = (DWORD)-1;
  if (wide.empty() || !WinHttpCrackUrl(wide.c_str(), (DWORD)wide.size(), 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
  if (!parts.lpszHostName || parts.dwHostNameLength == 0) return false;
  out->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  out->host.assign(parts.lpszHostName, parts.dwHostNameLength);
  out->port = parts.nPort;
  if (parts.lpszUrlPath) out->object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) out->object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (out->object.empty()) out->object = L"/";
  return true;
}

// The session takes the system's proxy settings where Windows offers them (8.1 and
// later), else the ones set with netsh.
HINTERNET open_session(void) {
  HINTERNET session = WinHttpOpen(L"mosswire", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session)
    session = WinHttpOpen(L"mosswire", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  return session;
}

DWORD query_number(HINTERNET request, DWORD what, bool *found) {
  DWORD value = 0, size = sizeof value;
  *found = WinHttpQueryHeaders(request, what | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                               &value, &size, WINHTTP_NO_HEADER_INDEX);
  return value;
}

// The announced body length, or -1 when the answer names none (chunked, or read to close).
long long content_length(HINTERNET request) {
  wchar_t text[32];
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                           &size, WINHTTP_NO_HEADER_INDEX))
    return -1;
  wchar_t *end = nullptr;
  long long n = wcstoll(text, &end, 10);
  return end != text && *end == 0 && n >= 0 ? n : -1;
}

bool write_all(HANDLE file, const char *bytes, DWORD length) {
  while (length > 0) {
    DWORD n = 0;
    if (!WriteFile(file, bytes, length, &n, nullptr) || n == 0) return false;
    bytes += n;
    length -= n;
  }
  return true;
}

/*
 * Release hosts answer with a redirect to a storage host, so WinHTTP follows redirects,
 * but never from HTTPS down to plain HTTP: such an answer stays a redirect, which is not
 * a success. The time-outs bound the silence of each step, not the whole transfer, so a
 * slow but live line still finishes. A body shorter than announced (the connection
 * dropped) or longer than the limit fails.
 */
bool fetch(const std::string &url, HANDLE file, const download_limits &limits) {
  address where;
  if (!split_address(url, &where)) {
    log_failure("download", "%s: not an http(s) address", url.c_str());
    return false;
  }
  http_handle session(open_session());
  if (!session.handle) {
    log_failure("download", "WinHTTP can't start: %s", error_text(GetLastError()).c_str());
    return false;
  }
  int connect_ms = (int)(limits.connect_seconds > 0 ? limits.connect_seconds * 1000 : 0);
  int stall_ms = (int)(limits.stall_seconds > 0 ? limits.stall_seconds * 1000 : 0);
  WinHttpSetTimeouts(session.handle, connect_ms, connect_ms, stall_ms, stall_ms);
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP, redirects = 10;
  WinHttpSetOption(session.handle, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  WinHttpSetOption(session.handle, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                   sizeof redirects);
  http_handle connection(WinHttpConnect(session.handle, where.host.c_str(), where.port, 0));
  http_handle request(connection.handle
                          ? WinHttpOpenRequest(connection.handle, L"GET", where.object.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               where.secure ? WINHTTP_FLAG_SECURE : 0)
                          : nullptr);
  if (!request.handle ||
      !WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                          0, 0) ||
      !WinHttpReceiveResponse(request.handle, nullptr)) {
    log_failure("download", "%s: %s", url.c_str(), failure_text(GetLastError()).c_str());
    return false;
  }
  bool found = false;
  DWORD status = query_number(request.handle, WINHTTP_QUERY_STATUS_CODE, &found);
  if (!found || status < 200 || status > 299) {
    log_failure("download", "%s: HTTP status %lu", url.c_str(), (unsigned long)status);
    return false;
  }
  long long announced = content_length(request.handle);
  if (limits.max_bytes && announced > limits.max_bytes) {
    log_failure("download", "%s: %lld bytes is more than the %lld allowed", url.c_str(), announced,
                limits.max_bytes);
    return false;
  }
  static const DWORD piece = 65536;
  char *buffer = (char *)malloc(piece);
  if (!buffer) return false;
  long long received = 0;
  bool ok = true;
  for (;;) {
    DWORD n = 0;
    if (!WinHttpReadData(request.handle, buffer, piece, &n)) {
      log_failure("download", "%s: %s", url.c_str(), failure_text(GetLastError()).c_str());
      ok = false;
      break;
    }
    if (n == 0) break;
    received += n;
    if (limits.max_bytes && received > limits.max_bytes) {
      log_failure("download", "%s: more than the %lld bytes allowed", url.c_str(), limits.max_bytes);
      ok = false;
      break;
    }
    if (!write_all(file, buffer, n)) {
      log_failure("download", "%s: can't write: %s", url.c_str(), error_text(GetLastError()).c_str());
      ok = false;
      break;
    }
  }
  free(buffer);
  if (ok && announced >= 0 && received != announced) {
    log_failure("download", "%s: %lld of %lld bytes arrived", url.c_str(), received, announced);
    ok = false;
  }
  return ok;
}

}  // namespace

bool download_file(const std::string &url, const std::string &path, const std::string &part_path,
                   const download_limits &limits) {
  file_delete(part_path);
  std::wstring part = widen(part_path);
  HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    log_failure("download", "can't create %s: %s", part_path.c_str(), error_text(GetLastError()).c_str());
    return false;
  }
  bool ok = fetch(url, file, limits) && FlushFileBuffers(file);
  if (!CloseHandle(file)) ok = false;
  if (ok && !MoveFileExW(part.c_str(), widen(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    log_failure("download", "can't move %s into place: %s", part_path.c_str(),
                error_text(GetLastError()).c_str());
    ok = false;
  }
  if (!ok) DeleteFileW(part.c_str());
  return ok;
}
