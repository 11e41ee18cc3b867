// One HTTP exchange over libcurl: an easy handle per session, redirects never followed by
// libcurl itself, the head read through the header callback, the first byte of a body ending
// the transfer.
#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>
#include <string>

#include "base/fold.h"
#include "base/utf.h"

namespace platform {
namespace {

constexpr const char* kUserAgent = "ProjectQuorvel-update-check/1.0";

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::u16string U16(std::string_view text) { return base::FromUtf8(text); }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

bool HeaderNameIs(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  return base::EqualAsciiIgnoringCase(line.substr(0, name.size()), name);
}

struct UrlHandle {
  CURLU* h = curl_url();
  ~UrlHandle() { curl_url_cleanup(h); }
};

// The response being received and whether its body has begun.
struct Receiving {
  HttpResponse response;
  bool body_started = false;
};

// Called once per header line, status lines included; a status line starts a new response
// (an interim 1xx response is replaced by the one after it).
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* r = &static_cast<Receiving*>(user)->response;
  std::string_view line(data, size * count);
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    *r = HttpResponse{};
    size_t space = line.find(' ');
    if (space != std::string_view::npos) {
      long status = 0;
      size_t i = space + 1;
      int digits = 0;
      while (i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 3) {
        status = status * 10 + (line[i] - '0');
        ++i;
        ++digits;
      }
      if (digits == 3) r->status = status;
    }
  } else if (HeaderNameIs(line, "location")) {
    if (!r->location_seen) {
      r->location = std::string(Trim(line.substr(9)));
      r->location_seen = true;
    }
  } else if (HeaderNameIs(line, "last-modified")) {
    if (!r->last_modified) r->last_modified = std::string(Trim(line.substr(14)));
  }
  return size * count;
}

// Only the headers matter: the first byte of a body ends the transfer.
size_t OnBody(char*, size_t size, size_t count, void* user) {
  if (size * count == 0) return 0;
  static_cast<Receiving*>(user)->body_started = true;
  return 0;
}

}  // namespace

struct HttpSession::State {
  CURL* curl = nullptr;
};

HttpSession::HttpSession() : state_(std::make_unique<State>()) {
  GlobalInit();
  state_->curl = curl_easy_init();
}

HttpSession::~HttpSession() {
  if (state_->curl) curl_easy_cleanup(state_->curl);
}

HttpResponse HttpSession::Exchange(const std::string& url, HttpMethod method,
                                   long connect_timeout_ms, long total_timeout_ms) {
  CURL* curl = state_->curl;
  if (!curl) throw HttpExchangeError(u"HTTP クライアントを用意できませんでした", {});
  Receiving receiving;
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (method == HttpMethod::kGet) {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(connect_timeout_ms, total_timeout_ms));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, total_timeout_ms);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &receiving);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &receiving);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  CURLcode code = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && receiving.body_started)) {
    if (!receiving.response.status) {
      throw HttpExchangeError(u"サーバーの応答が正しくありません（" + U16(url) + u"）", {});
    }
    return receiving.response;
  }
  std::string detail = error[0] != '\0' ? error : curl_easy_strerror(code);
  throw HttpExchangeError(u"サーバーとの通信に失敗しました（" + U16(url) + u"）: " + U16(detail),
                          receiving.response);
}

std::optional<std::string> ResolveHttpUrl(std::string_view base, std::string_view reference) {
  UrlHandle url;
  if (!url.h) return std::nullopt;
  if (!base.empty() &&
      curl_url_set(url.h, CURLUPART_URL, std::string(base).c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  if (reference.empty() || reference.find('\0') != std::string_view::npos) return std::nullopt;
  if (curl_url_set(url.h, CURLUPART_URL, std::string(reference).c_str(), CURLU_URLENCODE) !=
      CURLUE_OK) {
    return std::nullopt;
  }
  char* scheme = nullptr;
  if (curl_url_get(url.h, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return std::nullopt;
  std::string scheme_text = scheme;
  curl_free(scheme);
  if (scheme_text != "http" && scheme_text != "https") return std::nullopt;
  char* full = nullptr;
  if (curl_url_get(url.h, CURLUPART_URL, &full, 0) != CURLUE_OK) return std::nullopt;
  std::string result = full;
  curl_free(full);
  return result;
}

}  // namespace platform
