// The HEAD client against a real server on 127.0.0.1: redirects, methods, limits, failures.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

#include "routed_server.h"
#include "update/http_client.h"

namespace update {
namespace {

using update_test::CloseWithoutAnswer;
using update_test::NeverAnswer;
using update_test::Ok;
using update_test::Redirect;
using update_test::RoutedServer;
using update_test::Status;

class HttpClientTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The requests go straight to 127.0.0.1 whatever the environment says about proxies.
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      update_test::UnsetEnvironment(name);
    }
  }
  RoutedServer server_;
};

TEST_F(HttpClientTest, PlainHead) {
  server_.Route("/a.zip", Ok("Sun, 06 Nov 1994 08:49:37 GMT"));
  HttpClient client;
  client.Head(server_.Url("/a.zip"));
  EXPECT_EQ(client.last_status(), 200);
  EXPECT_EQ(client.last_modified(), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(client.exchanges(), 1);
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].method, "HEAD");
}

TEST_F(HttpClientTest, HeaderNamesWithoutCase) {
  update_test::HttpReply reply;
  reply.headers = {{"LAST-MODIFIED", "Sun, 06 Nov 1994 08:49:37 GMT"}};
  server_.Route("/a", reply);
  server_.Route("/r", update_test::HttpReply{302, {{"location", "/a"}}, "", false, false});
  HttpClient client;
  client.Head(server_.Url("/r"));
  EXPECT_EQ(client.last_modified(), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST_F(HttpClientTest, FourteenRedirectsAreFollowed) {
  server_.SetChainHeaders("final", "redirect");
  HttpClient client;
  client.Head(server_.Url("/chain/14/0"));
  EXPECT_EQ(client.last_status(), 200);
  EXPECT_EQ(client.last_modified(), "final");
  EXPECT_EQ(client.exchanges(), 15);
  EXPECT_EQ(server_.CountRequests("/chain/14/14"), 1u);
}

TEST_F(HttpClientTest, TheFifteenthRedirectIsTheFinalResponse) {
  for (int length : {15, 16, 40}) {
    RoutedServer server;
    server.SetChainHeaders("final", "redirect");
    HttpClient client;
    ASSERT_NO_THROW(client.Head(server.Url("/chain/" + std::to_string(length) + "/0")));
    EXPECT_EQ(client.last_status(), 302);
    EXPECT_EQ(client.last_modified(), "redirect");
    EXPECT_EQ(client.exchanges(), 15);
    EXPECT_EQ(server.requests().size(), 15u);
    EXPECT_EQ(server.CountRequests("/chain/" + std::to_string(length) + "/15"), 0u);
  }
}

TEST_F(HttpClientTest, TheFifteenthRedirectWithoutLastModified) {
  server_.SetChainHeaders("final", std::nullopt);
  HttpClient client;
  client.Head(server_.Url("/chain/15/0"));
  EXPECT_FALSE(client.last_modified());
}

TEST_F(HttpClientTest, EndlessLoopEndsAtTheLimit) {
  HttpClient client;
  ASSERT_NO_THROW(client.Head(server_.Url("/loop")));
  EXPECT_EQ(client.exchanges(), 15);
}

TEST_F(HttpClientTest, EachRequestCountsItsRedirectsAfresh) {
  server_.SetChainHeaders("final", std::nullopt);
  HttpClient client;
  client.Head(server_.Url("/chain/14/0"));
  client.Head(server_.Url("/chain/14/0"));
  EXPECT_EQ(client.last_status(), 200);
  EXPECT_EQ(client.exchanges(), 15);
}

TEST_F(HttpClientTest, RedirectStatusesAndLocations) {
  struct Location {
    const char* name;
    std::string value;
  };
  const std::string absolute = server_.Url("/dl/archive.zip");
  const std::string host_relative =
      "//127.0.0.1:" + std::to_string(server_.port()) + "/dl/archive.zip";
  const Location locations[] = {
      {"absolute", absolute},
      {"absolute path", "/dl/archive.zip"},
      {"same folder", "archive.zip"},
      {"dot segments", "../../dl/./archive.zip"},
      {"scheme relative", host_relative},
  };
  // Requests start at /dl/from/<status>; "archive.zip" relative to it is /dl/from/archive.zip.
  for (int status : {301, 302, 303, 307, 308}) {
    for (const Location& location : locations) {
      RoutedServer server;
      std::string value = location.value;
      if (location.value == absolute) value = server.Url("/dl/archive.zip");
      if (location.value == host_relative) {
        value = "//127.0.0.1:" + std::to_string(server.port()) + "/dl/archive.zip";
      }
      const std::string start = "/dl/from/" + std::to_string(status);
      const std::string end =
          std::string(location.name) == "same folder" ? "/dl/from/archive.zip" : "/dl/archive.zip";
      server.Route(start, Redirect(status, value));
      server.Route(end, Ok("end"));
      HttpClient client;
      ASSERT_NO_THROW(client.Head(server.Url(start))) << status << " " << location.name;
      EXPECT_EQ(client.last_modified(), "end") << status << " " << location.name;
      auto requests = server.requests();
      ASSERT_EQ(requests.size(), 2u) << status << " " << location.name;
      EXPECT_EQ(requests[0].method, "HEAD");
      EXPECT_EQ(requests[1].target, end);
      EXPECT_EQ(requests[1].method, status == 303 ? "GET" : "HEAD") << status;
    }
  }
}

TEST_F(HttpClientTest, GetContinuesAfter303AndTheBodyIsNotRead) {
  server_.Route("/a", Redirect(303, "/b"));
  server_.Route("/b", Redirect(307, "/c"));
  update_test::HttpReply big = Ok("c");
  big.body = std::string(4 << 20, 'x');
  server_.Route("/c", big);
  HttpClient client;
  client.Head(server_.Url("/a"));
  EXPECT_EQ(client.last_modified(), "c");
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "HEAD");
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[2].method, "GET");
}

TEST_F(HttpClientTest, FailuresKeepTheLastStatusAndLocation) {
  struct Case {
    const char* name;
    update_test::HttpReply reply;
    std::optional<long> status;
    std::string location;
  };
  const Case cases[] = {
      {"404", Status(404), 404, ""},
      {"500", Status(500), 500, ""},
      {"304", Redirect(304, "/elsewhere"), 304, "/elsewhere"},
      {"302 without Location", Redirect(302, std::nullopt), 302, ""},
      {"300 without Location", Redirect(300, std::nullopt), 300, ""},
      {"100-range final", Status(199), 199, ""},
      {"closed without answer", CloseWithoutAnswer(), std::nullopt, ""},
  };
  for (const Case& c : cases) {
    RoutedServer server;
    server.Route("/x", c.reply);
    HttpClient client;
    EXPECT_THROW(client.Head(server.Url("/x")), HttpError) << c.name;
    EXPECT_EQ(client.last_status(), c.status) << c.name;
    EXPECT_EQ(client.last_location(), c.location) << c.name;
  }
}

TEST_F(HttpClientTest, AFollowedRedirectCountsWhenNothingCameAfterIt) {
  const std::string dead = "http://127.0.0.1:" + std::to_string(update_test::UnusedPort()) + "/z";
  server_.Route("/x", Redirect(302, dead));
  HttpClient client;
  EXPECT_THROW(client.Head(server_.Url("/x")), HttpError);
  EXPECT_EQ(client.last_status(), 302);
  EXPECT_EQ(client.last_location(), dead);
  EXPECT_EQ(client.last_url(), server_.Url("/x"));
}

TEST_F(HttpClientTest, ARedirectToAFailureReportsTheFailure) {
  server_.Route("/x", Redirect(302, "/y"));
  server_.Route("/y", Status(404));
  HttpClient client;
  EXPECT_THROW(client.Head(server_.Url("/x")), HttpError);
  EXPECT_EQ(client.last_status(), 404);
}

TEST_F(HttpClientTest, NoConnectionHasNoStatus) {
  HttpClient client;
  const std::string url = "http://127.0.0.1:" + std::to_string(update_test::UnusedPort()) + "/a";
  EXPECT_THROW(client.Head(url), HttpError);
  EXPECT_FALSE(client.last_status());
}

TEST_F(HttpClientTest, UnusableUrlsAndLocations) {
  server_.Route("/ftp", Redirect(302, "ftp://127.0.0.1/a.zip"));
  server_.Route("/file", Redirect(301, "file:///etc/passwd"));
  HttpClient client;
  for (const char* url : {"", "not a url", "127.0.0.1/a.zip", "file:///etc/passwd", "ftp://x/y"}) {
    EXPECT_THROW(client.Head(url), HttpError) << url;
    EXPECT_EQ(client.exchanges(), 0) << url;
  }
  EXPECT_THROW(client.Head(server_.Url("/ftp")), HttpError);
  EXPECT_EQ(client.last_status(), 302);
  EXPECT_THROW(client.Head(server_.Url("/file")), HttpError);
  EXPECT_EQ(client.last_status(), 301);
  EXPECT_THROW(client.HeadLocation(server_.Url("/x"), ""), HttpError);
}

TEST_F(HttpClientTest, HeadLocationResolvesAgainstItsBase) {
  server_.Route("/dir/b.zip", Ok("b"));
  HttpClient client;
  client.HeadLocation(server_.Url("/dir/a"), "b.zip");
  EXPECT_EQ(client.last_modified(), "b");
}

TEST(ResolveUrlTest, Cases) {
  struct Case {
    const char* base;
    const char* reference;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"http://h/a/b/c", "d", "http://h/a/b/d"},
      {"http://h/a/b/c", "../d", "http://h/a/d"},
      {"http://h/a/b/c", "/d?x=1", "http://h/d?x=1"},
      {"http://h/a/b/c", "//other:81/z", "http://other:81/z"},
      {"http://h/a/b/c", "https://s/z", "https://s/z"},
      {"http://h/a/b/c", "?q", "http://h/a/b/c?q"},
      {"http://h/a/b/c", "ftp://s/z", std::nullopt},
      {"http://h/a/b/c", "", std::nullopt},
      {"", "http://h/x", "http://h/x"},
      {"", "/x", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolveUrl(c.base, c.reference), c.expected) << c.base << " + " << c.reference;
  }
}

TEST_F(HttpClientTest, AServerThatNeverAnswersTimesOut) {
  server_.Route("/slow", NeverAnswer());
  HttpClient client;
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(client.Head(server_.Url("/slow")), HttpError);
  auto elapsed = std::chrono::steady_clock::now() - start;
  // The request limit is 5 s; the bound leaves room for a loaded machine, and shows that the
  // wait ends.
  EXPECT_LT(elapsed, std::chrono::seconds(9));
  EXPECT_GE(elapsed, std::chrono::milliseconds(4500));
}

TEST_F(HttpClientTest, TheRequestLimitCoversTheWholeChain) {
  HttpClientOptions options;
  options.request_timeout_ms = 800;
  server_.Route("/a", Redirect(302, "/slow"));
  server_.Route("/slow", NeverAnswer());
  HttpClient client(options);
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(client.Head(server_.Url("/a")), HttpError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(client.last_status(), 302);
}

#ifndef _WIN32
// A listener whose accept queue is full: the kernel drops further connection requests, so
// the connection is never made and the connect limit (3 s), not the request limit, ends it.
// Only on POSIX: Windows answers a connection request to a full queue with a refusal
// (WSAECONNREFUSED, as its listen documentation says), so there no connection waits at all.
TEST(HttpClientConnectTest, AConnectionNeverMadeEndsAtTheConnectLimit) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers.push_back(s);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  HttpClient client;
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/a.zip";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(client.Head(url), HttpError);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(client.last_status());
  EXPECT_GE(elapsed, std::chrono::milliseconds(2500));
  EXPECT_LT(elapsed, std::chrono::milliseconds(4500));
  for (int s : fillers) ::close(s);
  ::close(listener);
}
#endif

}  // namespace
}  // namespace update
