#include "update/http_client.h"

#include <chrono>
#include <string>

#include "base/utf.h"

namespace update {
namespace {

using Clock = std::chrono::steady_clock;

std::u16string U16(std::string_view text) { return base::FromUtf8(text); }

bool IsFollowableStatus(long status) { return status >= 300 && status <= 399 && status != 304; }

}  // namespace

std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference) {
  return platform::ResolveHttpUrl(base, reference);
}

HttpClient::HttpClient(HttpClientOptions options)
    : options_(options), session_(std::make_unique<platform::HttpSession>()) {}

HttpClient::~HttpClient() = default;

HttpClient::Response HttpClient::Exchange(const std::string& url, bool use_get, long timeout_ms) {
  ++exchanges_;
  try {
    return session_->Exchange(url,
                              use_get ? platform::HttpMethod::kGet : platform::HttpMethod::kHead,
                              options_.connect_timeout_ms, timeout_ms);
  } catch (const platform::HttpExchangeError& error) {
    // A response that had begun before the failure counts as the last one received.
    if (error.partial().status) {
      last_status_ = error.partial().status;
      last_location_ = error.partial().location;
      last_url_ = url;
    }
    throw HttpError(error.message());
  }
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
    const Response response = Exchange(*current, use_get, static_cast<long>(remaining));
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
