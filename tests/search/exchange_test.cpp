#include "search/exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/cookie_store.h"
#include "platform/ui_memory.h"
#include "support/http_server.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

using testing::HttpServer;
using testing::RawConnection;
using testing::RawHttpServer;
using testing::TempDir;
using namespace std::chrono_literals;

Text G(std::string_view bytes) { return Text::FromGbk(bytes); }

constexpr std::string_view kDefaultAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*";
constexpr std::string_view kAgent =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// ---- buffer and records --------------------------------------------------------------------

TEST(ExchangeBufferTest, RequestRecordIsEightZeroEndedTexts) {
  ExchangeBuffer buffer;
  const ExchangeRequest request{G("http://abc/"), G("GET"),      Text(),  Text(),
                                Text(),           G("X: 1\r\n"), G("a=1")};
  WriteRequestRecord(buffer, request);
  EXPECT_EQ(buffer.Bytes(), std::string("Quibsel\0http://abc/\0GET\0\0\0\0X: 1\r\n\0a=1\0", 38));
  EXPECT_EQ(ReadRequestRecord(buffer), request);
}

TEST(ExchangeBufferTest, ResponseRecordEndsWithALengthPrefixedBody) {
  ExchangeBuffer buffer;
  const ExchangeResponse response{G("HTTP/1.1 200 OK\r\n"), std::string("b\0dy", 4)};
  WriteResponseRecord(buffer, response);
  EXPECT_EQ(buffer.Bytes(), std::string("Quibsel_OK\0HTTP/1.1 200 OK\r\n\0\x04\0\0\0b\0dy", 37));
  EXPECT_EQ(ReadResponseRecord(buffer), response);
  EXPECT_EQ(TakeResponseRecord(buffer), response);
  EXPECT_EQ(buffer.Size(), 0u);
}

TEST(ExchangeBufferTest, ATextIsCutAtItsFirstZeroByte) {
  ExchangeBuffer buffer;
  buffer.WriteText(Text::FromGbk(std::string_view("ab\0cd", 5)));
  buffer.WriteText(G("e"));
  buffer.Seek(0);
  EXPECT_EQ(buffer.ReadText(), G("ab"));
  EXPECT_EQ(buffer.ReadText(), G("e"));
  EXPECT_EQ(buffer.ReadText(), std::nullopt);
}

TEST(ExchangeBufferTest, WritingInTheMiddleOverwritesAndGrows) {
  ExchangeBuffer buffer;
  buffer.WriteText(G("abcdef"));
  buffer.Seek(2);
  buffer.WriteBytes("xyz");
  EXPECT_EQ(buffer.Bytes(), std::string("ab\x03\0\0\0xyz", 9));
  buffer.Truncate();
  EXPECT_EQ(buffer.Size(), 0u);
  EXPECT_EQ(buffer.Position(), 0u);
}

struct BadRecordCase {
  const char* name;
  std::function<void(ExchangeBuffer&)> write;
};

// Test listings show the row's name.
void PrintTo(const BadRecordCase& row, std::ostream* out) { *out << row.name; }

class BadResponseRecordTest : public ::testing::TestWithParam<BadRecordCase> {};

TEST_P(BadResponseRecordTest, ReadsNothing) {
  ExchangeBuffer buffer;
  GetParam().write(buffer);
  EXPECT_EQ(ReadResponseRecord(buffer), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadResponseRecordTest,
    ::testing::Values(BadRecordCase{"Empty", [](ExchangeBuffer&) {}},
                      BadRecordCase{"RequestRecord",
                                    [](ExchangeBuffer& buffer) {
                                      WriteRequestRecord(buffer, {.url = G("u")});
                                    }},
                      BadRecordCase{"NoBodyLength",
                                    [](ExchangeBuffer& buffer) {
                                      buffer.WriteText(G("Quibsel_OK"));
                                      buffer.WriteText(G("H"));
                                    }},
                      BadRecordCase{"BodyShorterThanItsLength",
                                    [](ExchangeBuffer& buffer) {
                                      buffer.WriteText(G("Quibsel_OK"));
                                      buffer.WriteText(G("H"));
                                      const std::size_t length_at = buffer.Position();
                                      buffer.WriteBytes("bod");
                                      buffer.Seek(length_at);
                                      buffer.WriteText(G("\x04"));  // the length now says 4
                                    }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpWorkerTest, WritesNothingForABufferWithoutTheRequestMarker) {
  HttpExchange exchange;
  exchange.buffer.WriteText(G("Quibsel_OK"));
  EXPECT_FALSE(HttpWorker(exchange));
  EXPECT_EQ(exchange.buffer.Bytes(), std::string("Quibsel_OK\0", 11));
}

// ---- URL parts -----------------------------------------------------------------------------

struct UrlCase {
  const char* name;
  std::string url;
  std::string host;
  std::string host_with_port;
  int port;
  std::string path;
};

void PrintTo(const UrlCase& row, std::ostream* out) { *out << row.name; }

class UrlPartsTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlPartsTest, SplitsTheUrl) {
  const UrlCase& row = GetParam();
  EXPECT_EQ(UrlHost(G(row.url), false), G(row.host));
  EXPECT_EQ(UrlHost(G(row.url), true), G(row.host_with_port));
  EXPECT_EQ(UrlPort(G(row.url)), row.port);
  EXPECT_EQ(UrlPath(G(row.url)), G(row.path));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlPartsTest,
    ::testing::Values(UrlCase{"PortPathAndQuery", "http://ABC:8080/x/y?z=1", "abc", "abc:8080",
                              8080, "/x/y?z=1"},
                      UrlCase{"HostOnly", "http://ABC", "abc", "abc", 80, "/"},
                      UrlCase{"NoScheme", "abc/p", "abc", "abc", 80, "/p"},
                      UrlCase{"PathKeepsItsCase", "http://WWW.Site.com/A/B?C=D", "www.site.com",
                              "www.site.com", 80, "/A/B?C=D"},
                      UrlCase{"PortWithoutDigits", "http://abc:/x", "abc", "abc:", 0, "/x"},
                      UrlCase{"PortDigitsThenJunk", "http://abc:81x/", "abc", "abc:81x", 81, "/"},
                      // 0xB0 0x41 is one GBK character whose second byte looks like 'A'.
                      UrlCase{"TwoByteCharacterKeptWhole", "http://Q\xB0\x41/p", "q\xB0\x41",
                              "q\xB0\x41", 80, "/p"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- exchanges -----------------------------------------------------------------------------

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override { CookieStore::Process().Reopen(dir_ / "cookies.dat"); }
  void TearDown() override {
    EXPECT_TRUE(WaitForHttpWorkers(10s)) << "a worker outlived its exchange";
  }

  // The clock stands still: only the worker's end can finish the wait.
  std::string Fetch(const std::string& url, const Text& post_data = {}, const Text& verb = {},
                    const Text& extra_headers = {}, Text* header_text = nullptr) {
    return FetchWithTimeout(pump_, clock_, G(url), post_data, verb, Text(), Text(), Text(),
                            extra_headers, 0, header_text);
  }

  TempDir dir_;
  ManualEventPump pump_;
  FixedClock clock_;
};

struct WireCase {
  const char* name;
  std::string verb;
  std::string extra_headers;
  std::string post_data;
  std::string request_line;
  std::vector<std::string> header_lines;  // all but Host, in order
  std::string body;
};

void PrintTo(const WireCase& row, std::ostream* out) { *out << row.name; }

class ExchangeWireTest : public ExchangeTest, public ::testing::WithParamInterface<WireCase> {};

std::vector<std::string> HeaderLinesWithoutHost(const std::string& head) {
  std::vector<std::string> lines;
  std::size_t start = head.find("\r\n") + 2;
  for (;;) {
    const std::size_t end = head.find("\r\n", start);
    if (end == std::string::npos || end == start) break;
    std::string line = head.substr(start, end - start);
    if (!line.starts_with("Host: ")) lines.push_back(std::move(line));
    start = end + 2;
  }
  return lines;
}

TEST_P(ExchangeWireTest, SendsTheseBytes) {
  const WireCase& row = GetParam();
  RawHttpServer server(RawHttpServer::AnswerOk("ok"));
  const std::string url = server.Url("/search.action?q=1");
  EXPECT_EQ(Fetch(url, G(row.post_data), G(row.verb), G(row.extra_headers)), "ok");
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string request = server.Requests()[0];
  const std::size_t head_end = request.find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos) << request;
  const std::string head = request.substr(0, head_end + 2);
  EXPECT_EQ(head.substr(0, head.find("\r\n")), row.request_line);
  std::vector<std::string> expected = row.header_lines;
  for (std::string& line : expected) {
    if (line == "Referer") line = "Referer: " + url;
  }
  EXPECT_EQ(HeaderLinesWithoutHost(head), expected) << head;
  EXPECT_NE(head.find("\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos)
      << head;
  EXPECT_EQ(request.substr(head_end + 4), row.body);
}

const std::vector<std::string> kDefaultLines = {std::string(kAgent), std::string(kDefaultAccept),
                                                "Referer", "Accept-Language: zh-cn"};

INSTANTIATE_TEST_SUITE_P(
    Cases, ExchangeWireTest,
    ::testing::Values(
        WireCase{"GetWithDefaults", "GET", "", "", "GET /search.action?q=1 HTTP/1.1", kDefaultLines,
                 ""},
        WireCase{"EmptyVerbIsGet", "", "", "", "GET /search.action?q=1 HTTP/1.1", kDefaultLines,
                 ""},
        WireCase{"LowerCaseGet", "get", "", "", "GET /search.action?q=1 HTTP/1.1", kDefaultLines,
                 ""},
        WireCase{"ExtraLinesFirstInTheirOrder",
                 "GET",
                 "X-One: 1\r\nX-Two: 2\r\n",
                 "",
                 "GET /search.action?q=1 HTTP/1.1",
                 {std::string(kAgent), "X-One: 1", "X-Two: 2", std::string(kDefaultAccept),
                  "Referer", "Accept-Language: zh-cn"},
                 ""},
        WireCase{"OwnAcceptInLowerCaseKeepsTheDefaultOut",
                 "GET",
                 "accept: text/html\r\n",
                 "",
                 "GET /search.action?q=1 HTTP/1.1",
                 {std::string(kAgent), "accept: text/html", "Referer", "Accept-Language: zh-cn"},
                 ""},
        WireCase{"OwnRefererAndLanguageKept",
                 "GET",
                 "REFERER: http://elsewhere/\r\nAccept-Language: en\r\n",
                 "",
                 "GET /search.action?q=1 HTTP/1.1",
                 {std::string(kAgent), "REFERER: http://elsewhere/", "Accept-Language: en",
                  std::string(kDefaultAccept)},
                 ""},
        WireCase{"UserAgentLineReplacesTheAgent",
                 "GET",
                 "User-Agent: Tester/1.0\r\n",
                 "",
                 "GET /search.action?q=1 HTTP/1.1",
                 {"User-Agent: Tester/1.0", std::string(kDefaultAccept), "Referer",
                  "Accept-Language: zh-cn"},
                 ""},
        WireCase{
            "PostWithData",
            "POST",
            "",
            "a=1&b=2",
            "POST /search.action?q=1 HTTP/1.1",
            {std::string(kAgent), std::string(kDefaultAccept), "Referer", "Accept-Language: zh-cn",
             "Content-Type: application/x-www-form-urlencoded", "Content-Length: 7"},
            "a=1&b=2"},
        WireCase{"PostKeepsOwnContentType",
                 "post",
                 "content-type: text/plain\r\n",
                 "x",
                 "POST /search.action?q=1 HTTP/1.1",
                 {std::string(kAgent), "content-type: text/plain", std::string(kDefaultAccept),
                  "Referer", "Accept-Language: zh-cn", "Content-Length: 1"},
                 "x"},
        WireCase{"PostWithoutData", "POST", "", "", "POST /search.action?q=1 HTTP/1.1",
                 kDefaultLines, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, AnotherVerbIsRefusedBeforeAnythingReachesTheServer) {
  RawHttpServer server(RawHttpServer::AnswerOk("ok"));
  Text header_text = G("stale");
  EXPECT_EQ(Fetch(server.Url("/put"), G("data"), G("PUT"), Text(), &header_text), "");
  EXPECT_EQ(header_text, Text());
  EXPECT_EQ(Fetch(server.Url("/probe")), "ok");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_TRUE(server.Requests()[0].starts_with("GET /probe ")) << server.Requests()[0];
}

TEST_F(ExchangeTest, ANamedProxyCarriesTheRequest) {
  RawHttpServer proxy(RawHttpServer::AnswerOk("proxied"));
  const std::string proxy_text = " 127.0.0.1:" + std::to_string(proxy.Port()) + " ";
  EXPECT_EQ(FetchWithTimeout(pump_, clock_, G("http://vellora.test/p?q=1"), Text(), G("GET"),
                             G(proxy_text)),
            "proxied");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_NE(proxy.Requests()[0].find("vellora.test"), std::string::npos);
}

TEST_F(ExchangeTest, FollowsRedirectsAndHandsBackTheFinalHeaderText) {
  HttpServer server;
  server.Routes().Get("/from", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/to");
  });
  server.Routes().Get("/to", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("arrived", "text/plain");
  });
  server.Start();
  Text header_text;
  EXPECT_EQ(Fetch(server.Url("/from"), {}, {}, {}, &header_text), "arrived");
  const std::string& head = header_text.Bytes();
  EXPECT_TRUE(head.starts_with("HTTP/1.1 200 OK\r\n")) << head;
  EXPECT_NE(head.find("\r\nContent-Length: 7\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("302"), std::string::npos) << head;
}

TEST_F(ExchangeTest, APostRedirectedBy302FetchesTheTargetWithoutABody) {
  RawHttpServer server([](RawConnection& connection) {
    if (connection.Request().starts_with("POST ")) {
      connection.Send(
          "HTTP/1.1 302 Found\r\nLocation: /to\r\nContent-Length: 0\r\n"
          "Connection: close\r\n\r\n");
    } else {
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nto");
    }
  });
  EXPECT_EQ(Fetch(server.Url("/from"), G("a=1"), G("POST")), "to");
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[1].starts_with("GET /to HTTP/1.1\r\n")) << requests[1];
  EXPECT_EQ(requests[1].find("Content-Length"), std::string::npos) << requests[1];
}

TEST_F(ExchangeTest, SetCookieLinesAreStoredInOrderAndSentNextTime) {
  HttpServer server;
  server.Routes().Get("/set", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Set-Cookie", "b=2; path=/");
    response.set_header("Set-Cookie", "a=1");
    response.set_content("set", "text/plain");
  });
  server.Routes().Get("/check", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.get_header_value("Cookie"), "text/plain");
  });
  server.Start();
  EXPECT_EQ(Fetch(server.Url("/set")), "set");
  const std::vector<Cookie> cookies = CookieStore::Process().Cookies();
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0], (Cookie{"127.0.0.1", false, "/", false, 0, "b", "2"}));
  EXPECT_EQ(cookies[1], (Cookie{"127.0.0.1", false, "/", false, 0, "a", "1"}));
  EXPECT_EQ(Fetch(server.Url("/check")), "b=2; a=1");
}

// The raw header text of a response whose head is exactly `size` bytes (its blank line not
// counted), with a cookie in it.
std::string HeadOfSize(std::size_t size) {
  std::string head = "HTTP/1.1 200 OK\r\nSet-Cookie: big=1\r\nContent-Length: 4\r\n";
  const std::string filler_start = "X-Filler: ";
  head += filler_start + std::string(size - head.size() - filler_start.size() - 2, 'f') + "\r\n";
  return head;
}

struct HeadSizeCase {
  const char* name;
  std::size_t size;
  bool captured;
};

void PrintTo(const HeadSizeCase& row, std::ostream* out) { *out << row.name; }

class ExchangeHeadSizeTest : public ExchangeTest,
                             public ::testing::WithParamInterface<HeadSizeCase> {};

TEST_P(ExchangeHeadSizeTest, CapturesOnlyWhatFitsTheHeaderBuffer) {
  const std::string head = HeadOfSize(GetParam().size);
  ASSERT_EQ(head.size(), GetParam().size);
  RawHttpServer server(RawHttpServer::Answer(head + "\r\nbody"));
  Text header_text;
  EXPECT_EQ(Fetch(server.Url("/"), {}, {}, {}, &header_text), "body");
  if (GetParam().captured) {
    EXPECT_EQ(header_text, G(head));
    EXPECT_EQ(CookieStore::Process().Cookies().size(), 1u);
  } else {
    EXPECT_EQ(header_text, Text());
    EXPECT_TRUE(CookieStore::Process().Cookies().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ExchangeHeadSizeTest,
                         ::testing::Values(HeadSizeCase{"FitsWithItsZero", 1023, true},
                                           HeadSizeCase{"OneByteTooMany", 1024, false},
                                           HeadSizeCase{"FarTooLong", 70000, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, OnlyLinesStartingWithSetCookieMakeCookies) {
  RawHttpServer server(
      RawHttpServer::Answer("HTTP/1.1 200 OK\r\nX-Set-Cookie: fake=1\r\nset-cookie: real=2\r\n"
                            "Content-Length: 2\r\n\r\nok"));
  EXPECT_EQ(Fetch(server.Url("/")), "ok");
  const std::vector<Cookie> cookies = CookieStore::Process().Cookies();
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0].name, "real");
}

TEST_F(ExchangeTest, ABodyAtTheLimitComesBackWhole) {
  HttpServer server;
  server.Routes().Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(kMaxExchangeBodyBytes, 'b'), "text/plain");
  });
  server.Start();
  EXPECT_EQ(Fetch(server.Url("/")).size(), kMaxExchangeBodyBytes);
}

TEST_F(ExchangeTest, AnHttpErrorStatusStillGivesItsBody) {
  RawHttpServer server(RawHttpServer::Answer(
      "HTTP/1.1 500 Oops\r\nContent-Length: 4\r\nConnection: close\r\n\r\noops"));
  Text header_text;
  EXPECT_EQ(Fetch(server.Url("/"), {}, {}, {}, &header_text), "oops");
  EXPECT_TRUE(header_text.Bytes().starts_with("HTTP/1.1 500 Oops\r\n"));
}

// ---- what a server may get wrong -----------------------------------------------------------

struct BadServerCase {
  const char* name;
  std::function<std::string(HttpServer&, std::unique_ptr<RawHttpServer>&)> start;
};

void PrintTo(const BadServerCase& row, std::ostream* out) { *out << row.name; }

class ExchangeBadServerTest : public ExchangeTest,
                              public ::testing::WithParamInterface<BadServerCase> {};

TEST_P(ExchangeBadServerTest, GivesTheEmptyResultAndLeavesNoThread) {
  HttpServer server;
  std::unique_ptr<RawHttpServer> raw;
  const std::string url = GetParam().start(server, raw);
  const SystemClock clock;
  Text header_text = G("stale");
  EXPECT_EQ(FetchWithTimeout(pump_, clock, G(url), Text(), Text(), Text(), Text(), Text(), Text(),
                             1, &header_text),
            "");
  EXPECT_EQ(header_text, Text());
  EXPECT_TRUE(WaitForHttpWorkers(10s));
}

RawHttpServer::Responder Trickle() {
  return [](RawConnection& connection) {
    if (!connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n")) return;
    while (connection.Send("x") && connection.Pause(20ms)) {
    }
  };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExchangeBadServerTest,
    ::testing::Values(
        BadServerCase{"EndlessTrickle",
                      [](HttpServer&, std::unique_ptr<RawHttpServer>& raw) {
                        raw = std::make_unique<RawHttpServer>(Trickle());
                        return raw->Url("/");
                      }},
        BadServerCase{
            "BodyOverTheLimit",
            [](HttpServer& server, std::unique_ptr<RawHttpServer>&) {
              server.Routes().Get("/", [](const httplib::Request&, httplib::Response& response) {
                response.set_content(std::string(kMaxExchangeBodyBytes + 1, 'b'), "text/plain");
              });
              server.Start();
              return server.Url("/");
            }},
        BadServerCase{"ResetMidBody",
                      [](HttpServer&, std::unique_ptr<RawHttpServer>& raw) {
                        raw = std::make_unique<RawHttpServer>([](RawConnection& connection) {
                          connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" +
                                          std::string(1000, 'x'));
                          connection.Reset();
                        });
                        return raw->Url("/");
                      }},
        BadServerCase{"RedirectLoop",
                      [](HttpServer& server, std::unique_ptr<RawHttpServer>&) {
                        server.Routes().Get(
                            "/loop", [](const httplib::Request&, httplib::Response& response) {
                              response.set_redirect("/loop");
                            });
                        server.Start();
                        return server.Url("/loop");
                      }},
        BadServerCase{"GarbageInsteadOfHttp",
                      [](HttpServer&, std::unique_ptr<RawHttpServer>& raw) {
                        raw = std::make_unique<RawHttpServer>(
                            RawHttpServer::Answer("SSH-2.0-OpenSSH_9.2\r\n\r\nnot http at all"));
                        return raw->Url("/");
                      }},
        BadServerCase{"AcceptsAndNeverAnswers",
                      [](HttpServer&, std::unique_ptr<RawHttpServer>& raw) {
                        raw = std::make_unique<RawHttpServer>(
                            [](RawConnection& connection) { connection.WaitForPeerClose(); });
                        return raw->Url("/");
                      }},
        BadServerCase{"NobodyListens",
                      [](HttpServer&, std::unique_ptr<RawHttpServer>&) {
                        int port = 0;
                        {
                          RawHttpServer gone(RawHttpServer::AnswerOk(""));
                          port = gone.Port();
                        }
                        return "http://127.0.0.1:" + std::to_string(port) + "/";
                      }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, ATimedOutTransferIsCancelledAndItsConnectionClosed) {
  RawHttpServer server([](RawConnection& connection) { connection.WaitForPeerClose(); });
  pump_.SetHook([&] {
    // Time runs only once the request is on the server, so there is a transfer to cancel.
    ASSERT_TRUE(server.WaitForRequests(1, 10s));
    clock_.AdvanceSteady(1s);
    pump_.PostEvent();
  });
  pump_.PostEvent();
  EXPECT_EQ(FetchWithTimeout(pump_, clock_, G(server.Url("/")), Text(), Text(), Text(), Text(),
                             Text(), Text(), 5),
            "");
  EXPECT_TRUE(server.WaitForPeerCloses(1, 10s));
}

// ---- time-outs -----------------------------------------------------------------------------

struct TimeoutCase {
  const char* name;
  std::int32_t given_seconds;
  std::chrono::seconds effective;
};

void PrintTo(const TimeoutCase& row, std::ostream* out) { *out << row.name; }

class ExchangeTimeoutTest : public ExchangeTest,
                            public ::testing::WithParamInterface<TimeoutCase> {};

// A timer ticking every 100 ms runs inside the wait: it keeps the pump busy, and the exchange
// still ends exactly at its deadline.
TEST_P(ExchangeTimeoutTest, EndsAtTheDeadlineWhateverRunsInsideTheWait) {
  RawHttpServer server([](RawConnection& connection) { connection.WaitForPeerClose(); });
  const auto start = clock_.SteadyNow();
  std::vector<std::chrono::milliseconds> dispatched_at;
  pump_.SetHook([&] {
    dispatched_at.push_back(
        std::chrono::duration_cast<std::chrono::milliseconds>(clock_.SteadyNow() - start));
    clock_.AdvanceSteady(100ms);
    pump_.PostEvent();
  });
  pump_.PostEvent();
  EXPECT_EQ(FetchWithTimeout(pump_, clock_, G(server.Url("/")), Text(), Text(), Text(), Text(),
                             Text(), Text(), GetParam().given_seconds),
            "");
  EXPECT_EQ(clock_.SteadyNow() - start, GetParam().effective);
  const auto ticks = static_cast<std::size_t>(GetParam().effective / 100ms);
  ASSERT_EQ(dispatched_at.size(), ticks);
  EXPECT_EQ(dispatched_at.back(), GetParam().effective - 100ms);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExchangeTimeoutTest,
                         ::testing::Values(TimeoutCase{"OneSecondGiven", 1, 1s},
                                           TimeoutCase{"ZeroMeansNinetySeconds", 0, 90s},
                                           TimeoutCase{"NegativeMeansNinetySeconds", -5, 90s},
                                           TimeoutCase{"LongerThanTheDefault", 120, 120s}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, TheWorkersEndWakesTheWaitAtOnce) {
  RawHttpServer server(RawHttpServer::AnswerOk("quick"));
  // The clock never moves and no event comes: without the wake this would wait 90 s.
  EXPECT_EQ(Fetch(server.Url("/")), "quick");
  EXPECT_LE(pump_.DispatchCount(), 2);
}

TEST_F(ExchangeTest, TheRealClockEndsAStalledExchange) {
  RawHttpServer server([](RawConnection& connection) { connection.WaitForPeerClose(); });
  const SystemClock clock;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FetchWithTimeout(pump_, clock, G(server.Url("/")), Text(), Text(), Text(), Text(),
                             Text(), Text(), 1),
            "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(ExchangeTest, AnExchangeInsideTheWaitHasItsOwnWorkerAndBuffer) {
  RawHttpServer slow([](RawConnection& connection) {
    connection.Pause(300ms);
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nouter");
  });
  RawHttpServer fast(RawHttpServer::AnswerOk("inner"));
  std::string inner;
  bool nested = false;
  pump_.SetHook([&] {
    if (!nested) {
      nested = true;
      inner = Fetch(fast.Url("/"));
    }
  });
  pump_.PostEvent();
  EXPECT_EQ(Fetch(slow.Url("/")), "outer");
  EXPECT_EQ(inner, "inner");
}

}  // namespace
}  // namespace vellora
