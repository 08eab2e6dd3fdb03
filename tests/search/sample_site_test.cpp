#include "sample_site.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "sample_site_fixture.h"

namespace vellora {
namespace {

using sample_site::FlightsFor;
using testing::Site;

struct RawResponse {
  std::string head;
  std::string body;
};

// Sends bytes exactly as given and reads until the site closes the connection.
RawResponse Exchange(std::string_view request) {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{10, 0};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(Site().Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string response;
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(sock, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    for (ssize_t n; (n = ::recv(sock, buffer, sizeof buffer, 0)) > 0;) response.append(buffer, n);
  }
  ::close(sock);
  const std::size_t split = response.find("\r\n\r\n");
  if (split == std::string::npos) return {response, ""};
  return {response.substr(0, split + 2), response.substr(split + 4)};
}

RawResponse Get(const std::string& target, const std::string& extra_headers = "") {
  return Exchange("GET " + target + " HTTP/1.1\r\nHost: " + Site().HostPort() + "\r\n" +
                  extra_headers + "Connection: close\r\n\r\n");
}

std::string Utf8(std::string_view gbk) { return Utf8FromGbk(gbk); }

class SampleSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Site().ResetRoutes();
    Site().ClearRequests();
  }
};

TEST_F(SampleSiteTest, LogsEachRequestWithItsHeadersInOrder) {
  Exchange(
      "GET /qunar/note.txt?a=1&b=%E5 HTTP/1.1\r\nZeta: 1\r\nAlpha:  two words \r\n"
      "zeta: 3\r\nHost: x\r\nConnection: close\r\n\r\n");
  const auto requests = Site().Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].ToJson(),
            R"({"method":"GET","path":"/qunar/note.txt?a=1&b=%E5","version":"HTTP/1.1",)"
            R"("headers":[["Zeta","1"],["Alpha","two words"],["zeta","3"],["Host","x"],)"
            R"(["Connection","close"]]})");
}

TEST(RequestLogTest, WritesBytesThatAreNotUtf8AsEscapes) {
  EXPECT_EQ(sample_site::JsonString("a\"\\\n\xC7\xE0"
                                    "北"),
            "\"a\\\"\\\\\\u000a\\u00c7\\u00e0北\"");
}

TEST_F(SampleSiteTest, NoticeFileHasItsMarkerAndText) {
  const std::string note = Utf8(Get("/qunar/note.txt").body);
  EXPECT_TRUE(note.starts_with("读取公告OK*")) << note;
  const std::size_t first = note.find('*');
  const std::size_t second = note.find('*', first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_GT(second - first, 1u);
}

TEST_F(SampleSiteTest, LinkFileCarriesFourLinksOnLinesThreeToSix) {
  const std::string links = Utf8(Get("/qunar/link.txt").body);
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = links.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(links.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 6u) << links;
  EXPECT_EQ(lines[0], "读取友情链接OK");
  for (int n = 2; n < 6; ++n) {
    const std::size_t comma = lines[n].find(',');
    ASSERT_NE(comma, std::string::npos) << lines[n];
    EXPECT_GT(comma, 0u);
    EXPECT_TRUE(lines[n].substr(comma + 1).starts_with("http://" + Site().HostPort() + "/"))
        << lines[n];
  }
}

// The captures of "访问：(.*?)&#", left to right, without overlap. (std::regex trips a false
// warning of GCC 12 in the sanitizer build.)
std::vector<std::string> VisitCounts(const std::string& page) {
  const std::string left = GbkFromUtf8("访问：");
  std::vector<std::string> counts;
  for (std::size_t at = page.find(left); at != std::string::npos; at = page.find(left, at)) {
    const std::size_t start = at + left.size();
    const std::size_t end = page.find("&#", start);
    if (end == std::string::npos) break;
    counts.push_back(page.substr(start, end - start));
    at = end + 2;
  }
  return counts;
}

TEST_F(SampleSiteTest, CounterPageMatchesTwiceAndCounts) {
  std::vector<std::string> first;
  for (int visit = 0; visit < 2; ++visit) {
    const std::string page = Get("/count2/count.asp?id=1&sx=2&ys=10").body;
    const std::vector<std::string> counts = VisitCounts(page);
    ASSERT_EQ(counts.size(), 2u) << Utf8(page);
    if (visit == 0) {
      first = counts;
    } else {
      EXPECT_EQ(std::stol(counts[0]), std::stol(first[0]) + 1);
      EXPECT_EQ(std::stol(counts[1]), std::stol(first[1]) + 1);
    }
  }
}

struct BookingCase {
  const char* name;
  std::string departure;  // as it goes into the address
  const char* shown;
  bool lists_flights;
  friend void PrintTo(const BookingCase& c, std::ostream* out) { *out << c.name; }
};

class BookingPageTest : public SampleSiteTest, public ::testing::WithParamInterface<BookingCase> {};

TEST_P(BookingPageTest, ShowsTheRouteAskedFor) {
  const RawResponse page =
      Get("/site/oneway_list.htm?searchDepartureAirport=" + GetParam().departure +
          "&searchArrivalAirport=%E6%88%90%E9%83%BD&searchDepartureTime=2013-01-11"
          "&searchArrivalTime=2010-11-04&nextNDays=0&startSearch=true&from=fi_ont_search");
  EXPECT_TRUE(page.head.starts_with("HTTP/1.1 200")) << page.head;
  EXPECT_NE(page.body.find(std::string("<b id=\"departure\">") + GetParam().shown + "</b>"),
            std::string::npos);
  EXPECT_NE(page.body.find("<b id=\"arrival\">成都</b>"), std::string::npos);
  EXPECT_NE(page.body.find("<b id=\"date\">2013-01-11</b>"), std::string::npos);
  EXPECT_EQ(page.body.find("<td>") != std::string::npos, GetParam().lists_flights);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, BookingPageTest,
    ::testing::Values(BookingCase{"gbk_bytes", GbkFromUtf8("青岛"), "青岛", true},
                      BookingCase{"utf8_percent_encoded", "%E9%9D%92%E5%B2%9B", "青岛", true},
                      BookingCase{"markup_escaped", "%3Cb%3E", "&lt;b&gt;", false}),
    [](const auto& info) { return std::string(info.param.name); });

const std::string kFirstPage =
    "/search.action?begin=%E5%8C%97%E4%BA%AC&end=%E4%B8%8A%E6%B5%B7&date=20130120"
    "&time=0&sort=1&v=1&f=index&bd_source=";
const std::string kSecondPage =
    "/search.action?f=index&v=1&time=0&sort=1&bd_source=&date=20130120&end=%E4%B8%8A%E6%B5%B7"
    "&begin=%E5%8C%97%E4%BA%AC&page.pageSize=5&page.groupSize=0&page.currPageNo=2"
    "&page.totalPageCount=4";

TEST_F(SampleSiteTest, LaterPagesNeedTheFirstPagesCookie) {
  const RawResponse first = Get(kFirstPage);
  const std::size_t at = first.head.find("Set-Cookie: QN_SID=");
  ASSERT_NE(at, std::string::npos) << first.head;
  const std::string cookie = first.head.substr(at + 12, first.head.find(';', at) - (at + 12));

  EXPECT_NE(Get(kSecondPage, "Cookie: " + cookie + "\r\n").body.find("报价(查看)"),
            std::string::npos);
  EXPECT_EQ(Get(kSecondPage).body.find("报价(查看)"), std::string::npos);
  EXPECT_EQ(Get(kSecondPage, "Cookie: QN_SID=00000000000000010000000000000000\r\n")
                .body.find("报价(查看)"),
            std::string::npos);
}

TEST_F(SampleSiteTest, ControlPathChoosesARoutesMode) {
  EXPECT_TRUE(Get("/_sample/route?begin=%E5%8C%97%E4%BA%AC&end=%E4%B8%8A%E6%B5%B7&mode=empty")
                  .head.starts_with("HTTP/1.1 200"));
  const RawResponse empty = Get(kFirstPage);
  EXPECT_TRUE(empty.head.starts_with("HTTP/1.1 200")) << empty.head;
  EXPECT_EQ(empty.body, "");

  Get("/_sample/route?begin=%E5%8C%97%E4%BA%AC&end=%E4%B8%8A%E6%B5%B7&mode=failing");
  EXPECT_EQ(Get(kFirstPage).head, "");

  EXPECT_TRUE(Get("/_sample/route?begin=a&end=b&mode=sideways").head.starts_with("HTTP/1.1 400"));
  EXPECT_TRUE(Get("/_sample/reset").head.starts_with("HTTP/1.1 200"));
  EXPECT_NE(Get(kFirstPage).body.find("报价(查看)"), std::string::npos);
}

TEST_F(SampleSiteTest, SlowPagesStallBeforeAnswering) {
  sample_site::RouteSettings slow;
  slow.mode = sample_site::SiteMode::kSlow;
  Site().SetRoute("北京", "上海", "20130120", slow);
  const auto start = std::chrono::steady_clock::now();
  const RawResponse page = Get(kFirstPage);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_NE(page.body.find("报价(查看)"), std::string::npos);
}

TEST_F(SampleSiteTest, ASecondSiteCannotTakeATakenPort) {
  sample_site::SampleSite second;
  EXPECT_TRUE(second.Start(Site().Port()).has_value());
}

TEST(FlightsTest, FaresAreFixedForAMomentAndDriftOverHours) {
  const auto now = testing::kSiteNow;
  const auto flights = FlightsFor("北京", "上海", "20130120", now);
  ASSERT_GE(flights.size(), 8u);
  EXPECT_EQ(FlightsFor("北京", "上海", "20130120", now)[0].number, flights[0].number);
  bool drifted = false;
  const auto later = FlightsFor("北京", "上海", "20130120", now + std::chrono::hours(2));
  for (std::size_t i = 0; i < flights.size(); ++i) {
    EXPECT_LE(flights[i].price, flights[i].full_fare);
    if (i > 0) {
      EXPECT_LE(flights[i - 1].price, flights[i].price);
    }
    drifted = drifted || later[i].price != flights[i].price;
  }
  EXPECT_TRUE(drifted);
  EXPECT_TRUE(FlightsFor("北京", "火星", "20130120", now).empty());
  EXPECT_TRUE(FlightsFor("北京", "北京", "20130120", now).empty());
  EXPECT_TRUE(FlightsFor("北京", "上海", "20130231", now).empty());
}

}  // namespace
}  // namespace vellora
