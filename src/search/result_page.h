#pragma once

// The search result pages of the travel site's mobile search: one page read into the
// latest-flights list, and the pages after the first.

#include <vector>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace vellora {

// One flight as the latest-flights list shows it, columns 1 to 4.
struct FlightRow {
  Text flight;     // airline and flight number: 东航MU5138
  Text departure;  // 07:00首都T3
  Text arrival;
  Text lowestPrice;  // ￥680(4.5折), as the page has it
  friend bool operator==(const FlightRow&, const FlightRow&) = default;
};

// What one page text holds.
struct ResultPageContent {
  Text count;       // the number of flights found, as cut (blanks kept)
  Text page_count;  // the total number of pages, as cut
  std::vector<FlightRow> rows;
};

// The parts of the main window and of the machine a search works with.
struct SearchContext {
  ListView& latest_flights;  // 超级列表框_最新10班信息
  Label& status_label;       // 透明标签_刷新状态
  EventPump& pump;
  const Clock& clock;  // the exchanges' time-outs run on it
};

// The site's page-size, as the paging requests announce it.
inline constexpr int kResultPageSize = 5;
// No route has this many pages; a page count beyond it is not believed, so a broken or hostile
// page cannot keep a search requesting pages for ever.
inline constexpr int kMaxResultPages = 100;

// Mode of ParseResultPage.
inline constexpr int kFirstPageMode = 0;
inline constexpr int kGivenUrlMode = 1;

// The first page of a route's search; cities already percent-encoded, date as yyyymmdd.
Text FirstPageUrl(const Text& departure_city, const Text& arrival_city, const Text& date);
// Page `page` (2 or more) of the same search; the page-count text goes in exactly as received.
Text LaterPageUrl(const Text& page_count_text, const Text& departure_city, const Text& arrival_city,
                  const Text& date, int page);

// Cuts the counts and the flights out of a page text (GBK). Rows stop at the first block whose
// flight text is missing, is the closing " </a>" after the last block, or decodes to nothing.
ResultPageContent ReadResultPage(const Text& page_text);

// Fetches one result page and appends a row per flight to the latest-flights list, numbered on
// from the rows already there, dispatching events after each row. In kFirstPageMode the URL is
// built from the cities and the date; otherwise `page_url` is fetched. Returns the page-count
// text; `status_text`, when given, receives "搜索到 " + count + "个航班". A failed fetch gives
// an empty page: no rows, an empty page count.
Text ParseResultPage(SearchContext& context, const Text& page_url, int mode,
                     const Text& departure_city, const Text& arrival_city, const Text& date,
                     Text* status_text = nullptr);

// Reads pages 2 to N of a search whose first page announced `page_count_text`, showing
// "状态:正在读取第n页..." in the status label before each. Nothing when N is below 2.
void FetchRemainingPages(SearchContext& context, const Text& page_count_text,
                         const Text& departure_city, const Text& arrival_city, const Text& date);

}  // namespace vellora
