#include "search/result_page.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "flights.h"
#include "platform/ui_memory.h"
#include "sample_site_fixture.h"
#include "search/codecs.h"

namespace vellora {
namespace {

using sample_site::Flight;
using sample_site::RouteSettings;
using sample_site::SiteMode;
using testing::Site;

constexpr const char* kBegin = "北京";
constexpr const char* kEnd = "上海";
constexpr const char* kDate = "20130120";
constexpr const char* kEncodedBegin = "%E5%8C%97%E4%BA%AC";
constexpr const char* kEncodedEnd = "%E4%B8%8A%E6%B5%B7";

Text Gbk(const std::string& utf8) { return Text::FromUtf8(utf8); }

// What the list should show for the site's flight.
FlightRow RowOf(const Flight& f) {
  return {Gbk(f.airline + f.number),
          Gbk(sample_site::ClockText(f.departure_minute) + f.departure_airport),
          Gbk(sample_site::ClockText(f.arrival_minute) + f.arrival_airport),
          Gbk("￥" + std::to_string(f.price) + "(" +
              sample_site::DiscountText(f.price, f.full_fare) + ")")};
}

std::vector<Flight> SiteFlights(int count) {
  return sample_site::FlightsFor(kBegin, kEnd, kDate, testing::kSiteNow, count);
}

RouteSettings Settings(int flights, int per_page = 5) {
  RouteSettings settings;
  settings.flights = flights;
  settings.per_page = per_page;
  return settings;
}

class ResultPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Site().ResetRoutes();
    Site().ClearRequests();
  }

  void SetRoute(const RouteSettings& settings) { Site().SetRoute(kBegin, kEnd, "", settings); }

  Text SearchFirstPage(Text* status = nullptr) {
    return ParseResultPage(context_, Text(), kFirstPageMode, UrlEncodeUtf8(Gbk(kBegin)),
                           UrlEncodeUtf8(Gbk(kEnd)), Gbk(kDate), status);
  }

  void FetchRest(const Text& page_count) {
    FetchRemainingPages(context_, page_count, UrlEncodeUtf8(Gbk(kBegin)), UrlEncodeUtf8(Gbk(kEnd)),
                        Gbk(kDate));
  }

  std::vector<sample_site::LoggedRequest> SearchRequests() const {
    std::vector<sample_site::LoggedRequest> found;
    for (auto& request : Site().Requests()) {
      if (request.path.starts_with("/search.action")) found.push_back(request);
    }
    return found;
  }

  // The list's rows as flights, checking that column 0 numbers them from 1.
  std::vector<FlightRow> ListedRows() const {
    std::vector<FlightRow> rows;
    for (int r = 0; r < list_.RowCount(); ++r) {
      EXPECT_EQ(list_.Cell(r, 0), IntegerText(r + 1)) << "row " << r;
      rows.push_back({list_.Cell(r, 1), list_.Cell(r, 2), list_.Cell(r, 3), list_.Cell(r, 4)});
    }
    return rows;
  }

  MemoryListView list_{5};
  MemoryLabel label_;
  ManualEventPump pump_;
  SystemClock clock_;
  SearchContext context_{list_, label_, pump_, clock_};
};

TEST_F(ResultPageTest, FirstPageRequestIsTheSitesMobileSearch) {
  SetRoute(Settings(12));
  SearchFirstPage();
  const auto requests = SearchRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].version, "HTTP/1.1");
  EXPECT_EQ(requests[0].path,
            "/search.action?begin=%E5%8C%97%E4%BA%AC&end=%E4%B8%8A%E6%B5%B7&date=20130120"
            "&time=0&sort=1&v=1&f=index&bd_source=");
  EXPECT_EQ(requests[0].Header("User-Agent"), "Java/1.6.0_22");
  EXPECT_EQ(requests[0].Header("Host"), Site().HostPort());
}

struct FirstPageCase {
  const char* name;
  RouteSettings settings;
  int expected_rows;
  const char* count;                      // as cut from the page, UTF-8
  std::optional<std::string> page_count;  // nothing: not a number of 2 or more
  friend void PrintTo(const FirstPageCase& c, std::ostream* out) { *out << c.name; }
};

class FirstPageTest : public ResultPageTest, public ::testing::WithParamInterface<FirstPageCase> {};

TEST_P(FirstPageTest, ListsTheFlightsOfThePage) {
  const FirstPageCase& c = GetParam();
  SetRoute(c.settings);
  Text status;
  const Text page_count = SearchFirstPage(&status);

  EXPECT_EQ(status, Gbk(std::string("搜索到 ") + c.count + "个航班"));
  if (c.page_count) {
    EXPECT_EQ(page_count, Gbk(*c.page_count));
  } else {
    EXPECT_LT(TextToNumber(page_count), 2.0) << page_count;
  }
  std::vector<FlightRow> expected;
  const auto flights = SiteFlights(std::max(c.settings.flights, 0));
  for (int i = 0; i < c.expected_rows; ++i) expected.push_back(RowOf(flights[i]));
  EXPECT_EQ(ListedRows(), expected);
  EXPECT_EQ(SearchRequests().size(), 1u);
  // Each row shows at once: events are dispatched after every row.
  EXPECT_GE(pump_.DispatchCount(), c.expected_rows);
}

RouteSettings Mode(SiteMode mode, int flights = 12) {
  RouteSettings settings = Settings(flights);
  settings.mode = mode;
  return settings;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, FirstPageTest,
    ::testing::Values(
        // "搜索到 12 个航班": the blanks around the number stay in the status.
        FirstPageCase{"five_of_twelve", Settings(12), 5, " 12 ", "3"},
        // A single page has no link after its "1/1", so there is no page count to cut.
        FirstPageCase{"one_flight", Settings(1), 1, " 1 ", ""},
        // The block after the ninth has a two-digit number; the closing tag after the tenth
        // must not become an eleventh row.
        FirstPageCase{"ten_blocks", Settings(10, 10), 10, " 10 ", ""},
        FirstPageCase{"ten_of_twenty", Settings(20, 10), 10, " 20 ", "2"},
        FirstPageCase{"no_flights", Settings(0), 0, " 0 ", std::nullopt},
        FirstPageCase{"empty_body", Mode(SiteMode::kEmpty), 0, "", ""},
        FirstPageCase{"connection_closed", Mode(SiteMode::kFailing), 0, "", ""},
        // Cut off inside the list, with a byte that is not UTF-8 before "个航班".
        FirstPageCase{"malformed", Mode(SiteMode::kMalformed), 0, " 12 ?", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct PagingCase {
  const char* name;
  RouteSettings settings;
  std::optional<std::string> total_text;  // the first page's page-count text, when not its own
  std::vector<int> later_pages;           // requested after the first, in order
  std::vector<int> listed_pages;          // whose flights end up in the list, in order
  friend void PrintTo(const PagingCase& c, std::ostream* out) { *out << c.name; }
};

// The exchange sends a blank in a URL as "%20".
std::string OnTheWire(std::string url_part) {
  for (std::size_t at; (at = url_part.find(' ')) != std::string::npos;)
    url_part.replace(at, 1, "%20");
  return url_part;
}

class PagingTest : public ResultPageTest, public ::testing::WithParamInterface<PagingCase> {};

TEST_P(PagingTest, ReadsPagesTwoToN) {
  const PagingCase& c = GetParam();
  RouteSettings settings = c.settings;
  settings.total_text = c.total_text;
  SetRoute(settings);
  label_.SetText(Gbk("状态:正在搜索"));

  const Text page_count = SearchFirstPage();
  FetchRest(page_count);

  const auto requests = SearchRequests();
  ASSERT_EQ(requests.size(), 1 + c.later_pages.size());
  std::vector<Text> captions = {Gbk("状态:正在搜索")};
  for (std::size_t i = 0; i < c.later_pages.size(); ++i) {
    const std::string n = std::to_string(c.later_pages[i]);
    EXPECT_EQ(requests[i + 1].path,
              std::string("/search.action?f=index&v=1&time=0&sort=1&bd_source=&date=") + kDate +
                  "&end=" + kEncodedEnd + "&begin=" + kEncodedBegin +
                  "&page.pageSize=5&page.groupSize=0&page.currPageNo=" + n +
                  "&page.totalPageCount=" + OnTheWire(page_count.ToUtf8()));
    EXPECT_EQ(requests[i + 1].Header("User-Agent"), "Java/1.6.0_22");
    // Later pages belong to the session the first page opened; without its cookie the site
    // would show no flights.
    EXPECT_TRUE(requests[i + 1].Header("Cookie").value_or("").find("QN_SID=") != std::string::npos);
    captions.push_back(Gbk("状态:正在读取第" + n + "页..."));
  }
  EXPECT_EQ(label_.History(), captions);

  const auto flights = SiteFlights(c.settings.flights);
  const auto per_page = static_cast<std::size_t>(c.settings.per_page);
  std::vector<FlightRow> expected;
  for (int page : c.listed_pages) {
    for (std::size_t i = (page - 1) * per_page; i < std::min(flights.size(), page * per_page); ++i)
      expected.push_back(RowOf(flights[i]));
  }
  // Numbered on across pages: page 2's first row is 6.
  EXPECT_EQ(ListedRows(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PagingTest,
    ::testing::Values(PagingCase{"three_pages", Settings(15), std::nullopt, {2, 3}, {1, 2, 3}},
                      PagingCase{"count_1", Settings(15), "1", {}, {1}},
                      PagingCase{"count_empty", Settings(15), "", {}, {1}},
                      PagingCase{"count_not_a_number", Settings(15), "x", {}, {1}},
                      PagingCase{"count_with_fraction", Settings(15), "3.7", {2, 3}, {1, 2, 3}},
                      // The page-count text goes into the URL as it was cut, blanks included.
                      PagingCase{"count_with_blanks", Settings(15), " 3 ", {2, 3}, {1, 2, 3}},
                      PagingCase{"last_page_short", Settings(12), std::nullopt, {2, 3}, {1, 2, 3}},
                      PagingCase{"failed_middle_page",
                                 [] {
                                   RouteSettings s = Settings(15);
                                   s.fail_page = 2;
                                   return s;
                                 }(),
                                 std::nullopt,
                                 {2, 3},
                                 {1, 3}},
                      PagingCase{"ten_block_pages", Settings(20, 10), std::nullopt, {2}, {1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResultPageTest, AnAbsurdPageCountIsNotBelieved) {
  SetRoute(Settings(15));
  FetchRest(Gbk("1e9999"));  // read as 1: nothing
  FetchRest(Gbk("99999999999999999999"));
  EXPECT_EQ(SearchRequests().size(), static_cast<std::size_t>(kMaxResultPages - 1));
}

TEST(LaterPageUrlTest, CarriesThePageCountTextAsReceived) {
  const Text url = LaterPageUrl(Gbk(" 3 "), Gbk("a"), Gbk("b"), Gbk("20130120"), 2);
  EXPECT_TRUE(url.ToUtf8().ends_with("&page.currPageNo=2&page.totalPageCount= 3 ")) << url;
}

// Pages no site of ours sends: cut by hand.
struct PageTextCase {
  const char* name;
  const char* page;  // UTF-8
  std::vector<std::string> flights;
  friend void PrintTo(const PageTextCase& c, std::ostream* out) { *out << c.name; }
};

class ReadResultPageTest : public ::testing::TestWithParam<PageTextCase> {};

TEST_P(ReadResultPageTest, CutsTheFlights) {
  const ResultPageContent content = ReadResultPage(Gbk(GetParam().page));
  std::vector<std::string> flights;
  for (const FlightRow& row : content.rows) flights.push_back(row.flight.ToUtf8());
  EXPECT_EQ(flights, GetParam().flights);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadResultPageTest,
    ::testing::Values(
        PageTextCase{"decoded_texts",
                     "当前按价格排序1.&#19996;&#33322;MU5138<br/>起飞:07:00&nbsp;T3<br/>"
                     "报价(查看) </a><br/>返回首页",
                     {"东航MU5138"}},
        // A flight text of blanks decodes to nothing and ends the list there.
        PageTextCase{"blank_flight_ends_list",
                     "当前按价格排序1.A1<br/>报价(查看) </a><br/>2.   <br/>报价(查看) </a><br/>"
                     "3.C3<br/>报价(查看) </a><br/>返回首页",
                     {"A1"}},
        // Without any "报价(查看)" the whole section is one piece.
        PageTextCase{"no_separator", "当前按价格排序 x<br/>1.A1<br/>返回首页", {"A1"}},
        PageTextCase{"no_number_no_rows", "当前按价格排序 <a>x</a><br/>报价(查看) 返回首页", {}},
        PageTextCase{"no_list_section", "搜索到 3 个航班 1.A1<br/>", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FlightRowTest, CleansTheTimes) {
  const ResultPageContent content =
      ReadResultPage(Gbk("当前按价格排序1.A1<br/>起飞:07:00&nbsp;首都 T3<br/>"
                         "到达:09:10&nbsp;虹桥T2<br/>最低价:￥680(4.5折)<br/>报价(查看)返回首页"));
  ASSERT_EQ(content.rows.size(), 1u);
  EXPECT_EQ(content.rows[0],
            (FlightRow{Gbk("A1"), Gbk("07:00首都T3"), Gbk("09:10虹桥T2"), Gbk("￥680(4.5折)")}));
}

}  // namespace
}  // namespace vellora
