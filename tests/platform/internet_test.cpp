#include "platform/internet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <thread>

#include "platform/cookie_store.h"
#include "platform/url_read.h"
#include "support/http_server.h"
#include "support/temp_dir.h"

namespace vellora {
namespace {

using testing::HttpServer;
using testing::RawConnection;
using testing::RawHttpServer;
using testing::TempDir;
using namespace std::chrono_literals;

constexpr std::time_t kYear2100 = 4102444800;  // Fri, 01 Jan 2100 00:00:00 GMT

Text G(std::string_view bytes) { return Text::FromGbk(bytes); }

std::string ReadAll(InternetRequest& request, std::size_t block_size = 512) {
  std::string body;
  std::vector<char> block(block_size);
  for (;;) {
    const std::optional<std::size_t> count = request.Read(block.data(), block.size());
    if (!count) return "<failed>";
    if (*count == 0) return body;
    body.append(block.data(), *count);
  }
}

// ---- cookie store -------------------------------------------------------------------------

enum class Expiry { kSession, kYear2100, kWithinADay };

struct SetCookieCase {
  const char* name;
  const char* url;
  const char* cookie_name;
  const char* data;
  bool accepted;
  Cookie expected;  // expires is checked through `expiry`
  Expiry expiry = Expiry::kSession;
};

// Test listings show the row's name.
void PrintTo(const SetCookieCase& row, std::ostream* out) { *out << row.name; }

class CookieParseTest : public ::testing::TestWithParam<SetCookieCase> {};

TEST_P(CookieParseTest, StoresWhatAServerWouldSet) {
  const SetCookieCase& row = GetParam();
  TempDir dir;
  CookieStore store(dir / "cookies.dat");
  const std::error_code error = store.SetCookie(G(row.url), G(row.cookie_name), G(row.data));
  if (!row.accepted) {
    EXPECT_EQ(error, std::errc::invalid_argument);
    EXPECT_TRUE(store.Cookies().empty());
    return;
  }
  ASSERT_FALSE(error) << error.message();
  const std::vector<Cookie> cookies = store.Cookies();
  ASSERT_EQ(cookies.size(), 1u);
  Cookie got = cookies[0];
  switch (row.expiry) {
    case Expiry::kSession:
      EXPECT_EQ(got.expires, 0);
      break;
    case Expiry::kYear2100:
      EXPECT_EQ(got.expires, kYear2100);
      break;
    case Expiry::kWithinADay:
      EXPECT_GT(got.expires, std::time(nullptr));
      EXPECT_LT(got.expires, std::time(nullptr) + 86400);
      break;
  }
  got.expires = 0;
  EXPECT_EQ(got, row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CookieParseTest,
    ::testing::Values(
        SetCookieCase{
            "PlainValue", "http://abc", "a", "1", true, {"abc", false, "/", false, 0, "a", "1"}},
        SetCookieCase{"AttributesStayOutOfTheValue",
                      "http://abc",
                      "a",
                      "1; Path=/x; Secure",
                      true,
                      {"abc", false, "/x", true, 0, "a", "1"}},
        SetCookieCase{"DefaultPathFromTheUrl",
                      "http://abc/d/e?q=/z",
                      "a",
                      "1",
                      true,
                      {"abc", false, "/d", false, 0, "a", "1"}},
        SetCookieCase{"HostLowerCasedPortDropped",
                      "http://ABC:8080/",
                      "a",
                      "1",
                      true,
                      {"abc", false, "/", false, 0, "a", "1"}},
        SetCookieCase{"DomainAttributeCoversSubdomains",
                      "http://www.abc.com",
                      "a",
                      "1; domain=.ABC.com",
                      true,
                      {"abc.com", true, "/", false, 0, "a", "1"}},
        SetCookieCase{
            "ForeignDomainRefused", "http://www.abc.com", "a", "1; domain=xyz.com", false, {}},
        SetCookieCase{
            "TopLevelDomainRefused", "http://www.abc.com", "a", "1; domain=com", false, {}},
        SetCookieCase{"ExpiresMakesItPersistent",
                      "http://abc",
                      "a",
                      "1; expires=Fri, 01 Jan 2100 00:00:00 GMT",
                      true,
                      {"abc", false, "/", false, 0, "a", "1"},
                      Expiry::kYear2100},
        SetCookieCase{"MaxAgeWinsOverExpires",
                      "http://abc",
                      "a",
                      "1; expires=Fri, 01 Jan 2100 00:00:00 GMT; max-age=60",
                      true,
                      {"abc", false, "/", false, 0, "a", "1"},
                      Expiry::kWithinADay},
        SetCookieCase{"UnreadableExpiresIgnored",
                      "http://abc",
                      "a",
                      "1; expires=soon",
                      true,
                      {"abc", false, "/", false, 0, "a", "1"}},
        SetCookieCase{"EmptyNameTakesItFromTheData",
                      "http://abc",
                      "",
                      "k=v=w; path=/p",
                      true,
                      {"abc", false, "/p", false, 0, "k", "v=w"}},
        SetCookieCase{"NoNameAtAllRefused", "http://abc", "", "lonely; path=/", false, {}},
        SetCookieCase{"LineBreakInValueRefused", "http://abc", "a", "1\r\nX-Evil: 1", false, {}},
        SetCookieCase{"TabInNameRefused", "http://abc", "a\tb", "1", false, {}},
        SetCookieCase{"NoHostRefused", "http://", "a", "1", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CookieStoreTest, ReplacingKeepsTheFirstPlaceAndAPastExpiryRemoves) {
  TempDir dir;
  CookieStore store(dir / "cookies.dat");
  const Text url = G("http://abc");
  ASSERT_FALSE(store.SetCookie(url, G("a"), G("1")));
  ASSERT_FALSE(store.SetCookie(url, G("b"), G("2")));
  ASSERT_FALSE(store.SetCookie(url, G("a"), G("3")));
  std::vector<Cookie> cookies = store.Cookies();
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0].name + "=" + cookies[0].value, "a=3");
  EXPECT_EQ(cookies[1].name + "=" + cookies[1].value, "b=2");

  ASSERT_FALSE(store.SetCookie(url, G("a"), G("x; expires=Thu, 01 Jan 1970 00:00:01 GMT")));
  ASSERT_FALSE(store.SetCookie(url, G("b"), G("x; max-age=0")));
  EXPECT_TRUE(store.Cookies().empty());
}

TEST(CookieStoreTest, OnlyCookiesWithAnExpirySurviveARestart) {
  TempDir dir;
  {
    CookieStore store(dir / "cookies.dat");
    ASSERT_FALSE(store.SetCookie(G("http://abc"), G("session"), G("1")));
    ASSERT_FALSE(store.SetCookie(G("http://abc/x/y"), G("kept"),
                                 G("2; expires=Fri, 01 Jan 2100 00:00:00 GMT")));
  }
  const std::string file = testing::ReadBytes(dir / "cookies.dat");
  EXPECT_TRUE(file.starts_with("# Netscape HTTP Cookie File\n")) << file;
  EXPECT_NE(file.find("abc\tFALSE\t/x\tFALSE\t4102444800\tkept\t2\n"), std::string::npos) << file;
  EXPECT_EQ(file.find("\tsession\t"), std::string::npos) << file;

  CookieStore restarted(dir / "cookies.dat");
  const std::vector<Cookie> cookies = restarted.Cookies();
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0], (Cookie{"abc", false, "/x", false, kYear2100, "kept", "2"}));
}

TEST(CookieStoreTest, DamagedOrExpiredLinesInTheFileAreSkipped) {
  TempDir dir;
  testing::WriteBytes(dir / "cookies.dat",
                      "# comment\n"
                      "garbage without tabs\n"
                      "abc\tFALSE\t/\tFALSE\t100\told\t1\n"    // long expired
                      "abc\tFALSE\t/\tFALSE\t0\tsession\t1\n"  // not ours to keep
                      "abc\tFALSE\tnopath\tFALSE\t4102444800\tbad\t1\n"
                      ".abc.com\tTRUE\t/\tFALSE\t4102444800\tgood\tv\r\n");
  CookieStore store(dir / "cookies.dat");
  const std::vector<Cookie> cookies = store.Cookies();
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0], (Cookie{"abc.com", true, "/", false, kYear2100, "good", "v"}));
}

TEST(CookieStoreTest, ReopenForgetsEverythingAndReadsTheNewFile) {
  TempDir dir;
  CookieStore store(dir / "one.dat");
  ASSERT_FALSE(store.SetCookie(G("http://abc"), G("a"), G("1")));
  store.Reopen(dir / "two.dat");
  EXPECT_TRUE(store.Cookies().empty());
  EXPECT_EQ(store.File(), dir / "two.dat");
}

TEST(CookieStoreTest, ADomainKeepsOnlyItsNewestCookies) {
  TempDir dir;
  CookieStore store(dir / "cookies.dat");
  for (std::size_t i = 0; i <= CookieStore::kMaxCookiesPerDomain; ++i) {
    ASSERT_FALSE(store.SetCookie(G("http://abc"), G("c" + std::to_string(i)), G("v")));
  }
  ASSERT_FALSE(store.SetCookie(G("http://other"), G("o"), G("v")));
  const std::vector<Cookie> cookies = store.Cookies();
  ASSERT_EQ(cookies.size(), CookieStore::kMaxCookiesPerDomain + 1);
  EXPECT_EQ(cookies.front().name, "c1");
  EXPECT_EQ(cookies.back().name, "o");
}

TEST(CookieStoreTest, AFailedSaveIsReportedAndTheCookieStillApplies) {
  TempDir dir;
  CookieStore store(dir / "missing-directory" / "cookies.dat");
  EXPECT_FALSE(store.SetCookie(G("http://abc"), G("s"), G("1")));  // nothing to save
  EXPECT_TRUE(store.SetCookie(G("http://abc"), G("p"), G("1; max-age=60")));
  EXPECT_EQ(store.Cookies().size(), 2u);
}

TEST(CookieStoreTest, NetscapeLinesRoundTrip) {
  const Cookie cookie{"abc.com", true, "/p", true, kYear2100, "n", "v=1"};
  EXPECT_EQ(NetscapeLine(cookie), ".abc.com\tTRUE\t/p\tTRUE\t4102444800\tn\tv=1");
  EXPECT_EQ(ParseNetscapeLine(NetscapeLine(cookie)), cookie);
  EXPECT_EQ(ParseNetscapeLine("#HttpOnly_abc\tFALSE\t/\tFALSE\t0\tn\t"),
            (Cookie{"abc", false, "/", false, 0, "n", ""}));
  EXPECT_EQ(ParseNetscapeLine("abc\tFALSE\t/\tFALSE\tsoon\tn\tv"), std::nullopt);
}

// ---- requests ------------------------------------------------------------------------------

class InternetRequestTest : public ::testing::Test {
 protected:
  TempDir dir_;
  CookieStore cookies_{dir_ / "cookies.dat"};
};

TEST_F(InternetRequestTest, ReadsTheWholeBodyInBlocksAndTheFinalHeadOnly) {
  HttpServer server;
  std::string big(100 * 1000 + 7, 'x');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  server.Routes().Get("/from", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/to");
  });
  server.Routes().Get("/to", [&](const httplib::Request&, httplib::Response& response) {
    response.set_header("X-Final", "yes");
    response.set_content(big, "text/plain");
  });
  server.Start();

  const InternetSession session(G("agent"), Text(), cookies_);
  const InternetConnection connection(session, G("127.0.0.1"), server.Port(), Text(), Text());
  InternetRequest request(connection, G("GET"), G("/from"));
  ASSERT_TRUE(request.Send(Text(), {}));
  EXPECT_EQ(ReadAll(request, 7), big);
  const std::string head = request.RawHeaders().Bytes();
  EXPECT_TRUE(head.starts_with("HTTP/1.1 200 OK\r\n")) << head;
  EXPECT_NE(head.find("\r\nX-Final: yes\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("302"), std::string::npos) << head;
  EXPECT_TRUE(head.ends_with("\r\n") && !head.ends_with("\r\n\r\n")) << head;
}

TEST_F(InternetRequestTest, CarriesTheStoresCookiesButNeverStoresTheResponses) {
  HttpServer server;
  server.Routes().Get("/", [](const httplib::Request& request, httplib::Response& response) {
    response.set_header("Set-Cookie", "fromserver=1");
    response.set_content(request.get_header_value("Cookie"), "text/plain");
  });
  server.Start();
  ASSERT_FALSE(cookies_.SetCookie(G("http://127.0.0.1"), G("a"), G("1")));
  ASSERT_FALSE(cookies_.SetCookie(G("http://127.0.0.1/other"), G("b"), G("2; path=/other")));
  ASSERT_FALSE(cookies_.SetCookie(G("http://elsewhere"), G("c"), G("3")));

  const InternetSession session(Text(), Text(), cookies_);
  const InternetConnection connection(session, G("127.0.0.1"), server.Port(), Text(), Text());
  InternetRequest request(connection, G("GET"), G("/"));
  ASSERT_TRUE(request.Send(Text(), {}));
  EXPECT_EQ(ReadAll(request), "a=1");
  EXPECT_EQ(cookies_.Cookies().size(), 3u);
}

TEST_F(InternetRequestTest, AnsweredChallengeWithTheConnectionsCredentials) {
  HttpServer server;
  server.Routes().Get("/", [](const httplib::Request& request, httplib::Response& response) {
    // "user:pass" in Base64.
    if (request.get_header_value("Authorization") == "Basic dXNlcjpwYXNz") {
      response.set_content("in", "text/plain");
    } else {
      response.status = 401;
      response.set_header("WWW-Authenticate", "Basic realm=\"r\"");
      response.set_content("out", "text/plain");
    }
  });
  server.Start();
  const InternetSession session(Text(), Text(), cookies_);
  const InternetConnection connection(session, G("127.0.0.1"), server.Port(), G("user"), G("pass"));
  InternetRequest request(connection, G("GET"), G("/"));
  ASSERT_TRUE(request.Send(Text(), {}));
  EXPECT_EQ(ReadAll(request), "in");
}

TEST_F(InternetRequestTest, ANamedProxyGetsTheAbsoluteUrl) {
  RawHttpServer proxy(RawHttpServer::AnswerOk("via proxy"));
  const InternetSession session(Text(), G("127.0.0.1:" + std::to_string(proxy.Port())), cookies_);
  // Never resolved: the proxy is asked for it.
  const InternetConnection connection(session, G("vellora.test"), 80, Text(), Text());
  InternetRequest request(connection, G("GET"), G("/x?y=1"));
  ASSERT_TRUE(request.Send(Text(), {}));
  EXPECT_EQ(ReadAll(request), "via proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_TRUE(proxy.Requests()[0].starts_with("GET http://vellora.test:80/x?y=1 HTTP/1.1\r\n") ||
              proxy.Requests()[0].starts_with("GET http://vellora.test/x?y=1 HTTP/1.1\r\n"))
      << proxy.Requests()[0];
}

TEST_F(InternetRequestTest, CloseFromAnotherThreadEndsAStalledTransfer) {
  RawHttpServer server([](RawConnection& connection) { connection.WaitForPeerClose(); });
  const InternetSession session(Text(), Text(), cookies_);
  const InternetConnection connection(session, G("127.0.0.1"), server.Port(), Text(), Text());
  auto request = std::make_shared<InternetRequest>(connection, G("GET"), G("/"));
  std::optional<bool> sent;
  std::thread worker([&] { sent = request->Send(Text(), {}); });
  ASSERT_TRUE(server.WaitForRequests(1, 10s));
  request->Close();
  worker.join();
  EXPECT_EQ(sent, false);
  EXPECT_EQ(request->Read(nullptr, 0), std::nullopt);
  request.reset();
  EXPECT_TRUE(server.WaitForPeerCloses(1, 10s)) << "the connection outlived its request";
}

TEST_F(InternetRequestTest, CloseBeforeSendSendsNothing) {
  RawHttpServer server(RawHttpServer::AnswerOk("never"));
  const InternetSession session(Text(), Text(), cookies_);
  const InternetConnection connection(session, G("127.0.0.1"), server.Port(), Text(), Text());
  InternetRequest request(connection, G("GET"), G("/"));
  request.Close();
  EXPECT_FALSE(request.Send(Text(), {}));
  InternetRequest probe(connection, G("GET"), G("/probe"));
  ASSERT_TRUE(probe.Send(Text(), {}));
  ASSERT_EQ(ReadAll(probe), "never");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_TRUE(server.Requests()[0].starts_with("GET /probe ")) << server.Requests()[0];
}

TEST_F(InternetRequestTest, ABadHostOrPortFailsWithoutAConnection) {
  const InternetSession session(Text(), Text(), cookies_);
  for (const auto& [host, port] : std::vector<std::pair<std::string, int>>{
           {"127.0.0.1", 0}, {"127.0.0.1", 70000}, {"a b", 80}, {"a/b", 80}, {"", 80}}) {
    const InternetConnection connection(session, G(host), port, Text(), Text());
    InternetRequest request(connection, G("GET"), G("/"));
    EXPECT_FALSE(request.Send(Text(), {})) << host << ":" << port;
  }
}

// ---- reading a URL -------------------------------------------------------------------------

TEST(ReadUrlTest, SendsAPlainHttp10GetAndReturnsTheBody) {
  RawHttpServer server(RawHttpServer::AnswerOk("notice"));
  EXPECT_EQ(ReadUrl(G(server.Url("/qunar/note.txt"))), "notice");
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string request = server.Requests()[0];
  EXPECT_TRUE(request.starts_with("GET /qunar/note.txt HTTP/1.0\r\n")) << request;
  EXPECT_NE(request.find("\r\nAccept: */*\r\n"), std::string::npos) << request;
}

struct ReadUrlCase {
  const char* name;
  RawHttpServer::Responder responder;
  std::string expected;
};

void PrintTo(const ReadUrlCase& row, std::ostream* out) { *out << row.name; }

class ReadUrlResponseTest : public ::testing::TestWithParam<ReadUrlCase> {};

TEST_P(ReadUrlResponseTest, GivesTheBodyOrNothing) {
  RawHttpServer server(GetParam().responder);
  UrlReadLimits limits;
  limits.max_body_bytes = 10;
  limits.stall = 1s;
  EXPECT_EQ(ReadUrl(G(server.Url("/f")), limits), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadUrlResponseTest,
    ::testing::Values(
        ReadUrlCase{"ErrorStatusKeepsItsBody",
                    RawHttpServer::Answer("HTTP/1.0 404 Not Found\r\n\r\nmissing"), "missing"},
        ReadUrlCase{"BodyAtTheLimit", RawHttpServer::AnswerOk("0123456789"), "0123456789"},
        ReadUrlCase{"BodyOverTheLimit", RawHttpServer::AnswerOk("0123456789A"), ""},
        ReadUrlCase{"ResetMidBody",
                    [](RawConnection& connection) {
                      connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc");
                      connection.Reset();
                    },
                    ""},
        ReadUrlCase{"StalledServer",
                    [](RawConnection& connection) {
                      connection.Send("HTTP/1.0 200 OK\r\n\r\nab");
                      connection.WaitForPeerClose();
                    },
                    ""},
        ReadUrlCase{"GarbageInsteadOfHttp", RawHttpServer::Answer("SSH-2.0-OpenSSH_9.2\r\n"), ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadUrlTest, FollowsRedirects) {
  HttpServer server;
  server.Routes().Get("/old", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/new");
  });
  server.Routes().Get("/new", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("moved", "text/plain");
  });
  server.Start();
  EXPECT_EQ(ReadUrl(G(server.Url("/old"))), "moved");
}

TEST(ReadUrlTest, NothingWhenNoConnectionCanBeMade) {
  int port = 0;
  {
    RawHttpServer gone(RawHttpServer::AnswerOk(""));
    port = gone.Port();
  }
  EXPECT_EQ(ReadUrl(G("http://127.0.0.1:" + std::to_string(port) + "/")), "");
  EXPECT_EQ(ReadUrl(G("ftp://127.0.0.1/")), "");
  EXPECT_EQ(ReadUrl(G("http://127.0.0.1:port/")), "");
}

}  // namespace
}  // namespace vellora
