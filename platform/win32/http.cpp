// One HTTP exchange over WinHTTP: one session handle for the object, a connection and a request
// handle per exchange, redirects switched off, only the response head received. WinHTTP has
// limits per step (connect, send, receive) but none for the whole exchange, so each step gets
// what is left of the whole.
//
// URLs are resolved by the rules of RFC 3986 (section 5), written out here: WinHTTP only
// splits absolute URLs.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "base/system_error_text.h"
#include "base/utf.h"
#include "platform/http.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr wchar_t kUserAgent[] = L"ProjectQuorvel-update-check/1.0";

std::u16string U16(std::string_view text) { return base::FromUtf8(text); }

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = base::FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(std::wstring_view wide) {
  return base::ToUtf8(std::u16string(wide.begin(), wide.end()));
}

// The Japanese reason for a WinHTTP error code (12000 and up), else for a Win32 code.
std::u16string Reason(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
      return u"時間内に応答がありませんでした";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return u"接続できませんでした";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return u"サーバーの名前を解決できませんでした";
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return u"接続が切断されました";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return u"サーバーの応答が正しくありません";
    case ERROR_WINHTTP_SECURE_FAILURE:
      return u"安全な接続を確立できませんでした";
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return u"URL が正しくありません";
    default:
      return base::Win32ErrorReason(error);
  }
}

class Handle {
 public:
  explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (handle_) ::WinHttpCloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

// A header's value (the first of its kind); nothing when the response has none.
std::optional<std::string> QueryText(HINTERNET request, DWORD query) {
  DWORD size = 0;
  DWORD index = 0;
  ::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, &index);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
  index = 0;
  if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                             &index)) {
    return std::nullopt;
  }
  std::string text = Utf8(std::wstring_view(buffer.data(), size / sizeof(wchar_t)));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  return text.substr(start);
}

// Milliseconds for a WinHTTP limit: at least 1, as 0 would mean "no limit".
int Limit(long long ms) { return static_cast<int>(std::clamp<long long>(ms, 1, 0x7FFFFFFF)); }

}  // namespace

struct HttpSession::State {
  HINTERNET session = nullptr;
};

HttpSession::HttpSession() : state_(std::make_unique<State>()) {
  state_->session = ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
}

HttpSession::~HttpSession() {
  if (state_->session) ::WinHttpCloseHandle(state_->session);
}

HttpResponse HttpSession::Exchange(const std::string& url, HttpMethod method,
                                   long connect_timeout_ms, long total_timeout_ms) {
  if (!state_->session) throw HttpExchangeError(u"HTTP クライアントを用意できませんでした", {});
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total_timeout_ms);
  const auto remaining = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  };
  const auto fail = [&](DWORD error) {
    return HttpExchangeError(
        u"サーバーとの通信に失敗しました（" + U16(url) + u"）: " + Reason(error), {});
  };

  // The fragment never goes to the server.
  const std::wstring wide_url = Wide(url.substr(0, url.find('#')));
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(wide_url.c_str(), static_cast<DWORD>(wide_url.size()), 0, &parts)) {
    throw fail(::GetLastError());
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
  target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (target.empty()) target = L"/";

  Handle connection(::WinHttpConnect(state_->session, host.c_str(), parts.nPort, 0));
  if (!connection) throw fail(::GetLastError());
  const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  Handle request(::WinHttpOpenRequest(
      connection.get(), method == HttpMethod::kGet ? L"GET" : L"HEAD", target.c_str(), nullptr,
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!request) throw fail(::GetLastError());
  // Redirects are followed by the caller's own loop. Each exchange has a connection of its own
  // that ends with it: kept alive, closing the request would first read a body nobody wants.
  DWORD features = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE;
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);

  // Connecting and sending, then receiving the head, each within what is left. The wait for
  // the response head has a time limit of its own (90 s unless set), apart from the receive
  // limit of each read: a server that takes the request and never answers would otherwise hold
  // the check far beyond its time.
  const long long left = remaining();
  DWORD head_limit = static_cast<DWORD>(Limit(left));
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &head_limit,
                     sizeof head_limit);
  if (!::WinHttpSetTimeouts(request.get(), Limit(left),
                            Limit(std::min<long long>(connect_timeout_ms, left)), Limit(left),
                            Limit(left)) ||
      !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    throw fail(::GetLastError());
  }
  if (remaining() <= 0) throw fail(ERROR_WINHTTP_TIMEOUT);
  ::WinHttpSetTimeouts(request.get(), Limit(remaining()), Limit(remaining()), Limit(remaining()),
                       Limit(remaining()));
  head_limit = static_cast<DWORD>(Limit(remaining()));
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &head_limit,
                     sizeof head_limit);
  if (!::WinHttpReceiveResponse(request.get(), nullptr)) throw fail(::GetLastError());

  HttpResponse response;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX) ||
      status > 999) {
    throw HttpExchangeError(u"サーバーの応答が正しくありません（" + U16(url) + u"）", {});
  }
  response.status = static_cast<long>(status);
  if (std::optional<std::string> location = QueryText(request.get(), WINHTTP_QUERY_LOCATION)) {
    response.location = std::move(*location);
    response.location_seen = true;
  }
  response.last_modified = QueryText(request.get(), WINHTTP_QUERY_LAST_MODIFIED);
  // The request handle closes here without reading a body.
  return response;
}

namespace {

// The parts of a URL reference (RFC 3986, 3): each present or not.
struct UrlParts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

UrlParts Split(std::string_view text) {
  UrlParts parts;
  // A scheme: a letter, then letters, digits, "+", "-", "." up to ":" before any "/?#".
  size_t colon = text.find(':');
  if (colon != std::string_view::npos && colon > 0 && IsAlpha(text[0]) &&
      text.substr(0, colon).find_first_of("/?#") == std::string_view::npos) {
    bool valid = true;
    for (char c : text.substr(0, colon)) {
      valid = valid && (IsAlpha(c) || IsDigit(c) || c == '+' || c == '-' || c == '.');
    }
    if (valid) {
      std::string scheme(text.substr(0, colon));
      for (char& c : scheme) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
      parts.scheme = scheme;
      text.remove_prefix(colon + 1);
    }
  }
  if (const size_t hash = text.find('#'); hash != std::string_view::npos) {
    parts.fragment = std::string(text.substr(hash + 1));
    text = text.substr(0, hash);
  }
  if (const size_t question = text.find('?'); question != std::string_view::npos) {
    parts.query = std::string(text.substr(question + 1));
    text = text.substr(0, question);
  }
  if (text.substr(0, 2) == "//") {
    text.remove_prefix(2);
    const size_t slash = text.find('/');
    parts.authority = std::string(text.substr(0, slash));
    text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
  }
  parts.path = std::string(text);
  return parts;
}

// RFC 3986, 5.2.4: "." and ".." segments taken out.
std::string RemoveDotSegments(std::string_view in) {
  std::string out;
  while (!in.empty()) {
    if (in.substr(0, 3) == "../") {
      in.remove_prefix(3);
    } else if (in.substr(0, 2) == "./") {
      in.remove_prefix(2);
    } else if (in.substr(0, 3) == "/./") {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.substr(0, 4) == "/../" || in == "/..") {
      in = in.size() == 3 ? std::string_view("/") : in.substr(3);
      const size_t last = out.rfind('/');
      out.erase(last == std::string::npos ? 0 : last);
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      const size_t next = in.find('/', 1);
      const std::string_view segment = in.substr(0, next);
      out += segment;
      in.remove_prefix(segment.size());
    }
  }
  return out;
}

// Spaces, controls and bytes outside ASCII written as %XX, as the server expects them.
std::string EncodeUnsafe(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool IsHttpScheme(const std::optional<std::string>& scheme) {
  return scheme == "http" || scheme == "https";
}

}  // namespace

std::optional<std::string> ResolveHttpUrl(std::string_view base, std::string_view reference) {
  if (reference.empty() || reference.find('\0') != std::string_view::npos) return std::nullopt;
  const UrlParts r = Split(EncodeUnsafe(reference));
  UrlParts target;
  if (r.scheme) {
    target = r;
    target.path = RemoveDotSegments(r.path);
  } else {
    if (base.empty()) return std::nullopt;
    const UrlParts b = Split(base);
    if (!IsHttpScheme(b.scheme) || !b.authority || b.authority->empty()) return std::nullopt;
    target.scheme = b.scheme;
    target.fragment = r.fragment;
    if (r.authority) {
      target.authority = r.authority;
      target.path = RemoveDotSegments(r.path);
      target.query = r.query;
    } else {
      target.authority = b.authority;
      if (r.path.empty()) {
        target.path = b.path;
        target.query = r.query ? r.query : b.query;
      } else {
        if (r.path.front() == '/') {
          target.path = RemoveDotSegments(r.path);
        } else {
          // Merged with the base path up to its last "/" (RFC 3986, 5.2.3).
          const size_t last = b.path.rfind('/');
          const std::string merged =
              last == std::string::npos ? "/" + r.path : b.path.substr(0, last + 1) + r.path;
          target.path = RemoveDotSegments(merged);
        }
        target.query = r.query;
      }
    }
  }
  if (!IsHttpScheme(target.scheme) || !target.authority || target.authority->empty()) {
    return std::nullopt;
  }
  std::string result = *target.scheme + "://" + *target.authority;
  result += target.path.empty() ? "/" : target.path;
  if (target.query) result += "?" + *target.query;
  if (target.fragment) result += "#" + *target.fragment;
  return result;
}

}  // namespace platform
