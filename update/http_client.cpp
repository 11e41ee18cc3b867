#include "update/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>

#include "base/fold.h"
#include "base/utf.h"

namespace update {
namespace {

using Clock = std::chrono::steady_clock;

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

bool IsFollowableStatus(long status) { return status >= 300 && status <= 399 && status != 304; }

struct UrlHandle {
  CURLU* h = curl_url();
  ~UrlHandle() { curl_url_cleanup(h); }
};

}  // namespace

struct HttpClient::Response {
  std::optional<long> status;
  std::string location;
  std::optional<std::string> last_modified;
  bool location_seen = false;
  bool body_started = false;
};

namespace {

// Called once per header line, status lines included; a status line starts a new response
// (an interim 1xx response is replaced by the one after it).
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<HttpClient::Response*>(user);
  std::string_view line(data, size * count);
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    *r = HttpClient::Response{};
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
  static_cast<HttpClient::Response*>(user)->body_started = true;
  return 0;
}

}  // namespace

std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference) {
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

HttpClient::HttpClient(HttpClientOptions options) : options_(options) {
  GlobalInit();
  curl_ = curl_easy_init();
}

HttpClient::~HttpClient() {
  if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

void HttpClient::Exchange(const std::string& url, bool use_get, long timeout_ms,
                          Response& response) {
  CURL* curl = static_cast<CURL*>(curl_);
  if (!curl) throw HttpError(u"HTTP クライアントを用意できませんでした");
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (use_get) {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   std::min(options_.connect_timeout_ms, timeout_ms));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_ms);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  ++exchanges_;
  CURLcode code = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && response.body_started)) {
    if (!response.status) {
      throw HttpError(u"サーバーの応答が正しくありません（" + U16(url) + u"）");
    }
    return;
  }
  if (response.status) {
    last_status_ = response.status;
    last_location_ = response.location;
    last_url_ = url;
  }
  std::string detail = error[0] != '\0' ? error : curl_easy_strerror(code);
  throw HttpError(u"サーバーとの通信に失敗しました（" + U16(url) + u"）: " + U16(detail));
}

void HttpClient::Head(std::string_view url) {
  last_status_.reset();
  last_location_.clear();
  last_url_.clear();
  last_modified_.reset();
  exchanges_ = 0;

  std::optional<std::string> current = ResolveUrl({}, url);
  if (!current) throw HttpError(u"URL が正しくありません（" + U16(url) + u"）");

  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(options_.request_timeout_ms);
  bool use_get = false;
  int redirects = 0;
  while (true) {
    auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (remaining <= 0) {
      throw HttpError(u"サーバーが時間内に応答しませんでした（" + U16(*current) + u"）");
    }
    Response response;
    Exchange(*current, use_get, static_cast<long>(remaining), response);
    last_status_ = response.status;
    last_location_ = response.location;
    last_url_ = *current;
    const long status = *response.status;

    if (IsFollowableStatus(status) && response.location_seen) {
      ++redirects;
      if (redirects >= options_.redirect_limit) {
        last_modified_ = response.last_modified;
        return;
      }
      std::optional<std::string> next = ResolveUrl(*current, response.location);
      if (!next) {
        throw HttpError(u"転送先の URL が正しくありません（" + U16(response.location) + u"）");
      }
      if (status == 303) use_get = true;
      *current = std::move(*next);
      continue;
    }
    if (status >= 200 && status <= 299) {
      last_modified_ = response.last_modified;
      return;
    }
    throw HttpError(u"サーバーが状態 " + U16(std::to_string(status)) + u" を返しました（" +
                    U16(*current) + u"）");
  }
}

void HttpClient::HeadLocation(std::string_view base, std::string_view location) {
  std::optional<std::string> target = ResolveUrl(base, location);
  if (!target) {
    last_status_.reset();
    last_location_.clear();
    last_url_.clear();
    last_modified_.reset();
    exchanges_ = 0;
    throw HttpError(u"転送先の URL が正しくありません（" + U16(location) + u"）");
  }
  Head(*target);
}

}  // namespace update
