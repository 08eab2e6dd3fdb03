#include "search/result_page.h"

#include <algorithm>
#include <cmath>

#include "search/codecs.h"
#include "search/exchange.h"
#include "search/hosts.h"

namespace vellora {

namespace {

Text Ascii(std::string_view text) { return Text::FromGbk(text); }

Text RemoveAll(const Text& text, const Text& needle) {
  Text out;
  std::int64_t from = 1;
  for (std::int64_t at = FindText(text, needle, from); at != -1;
       at = FindText(text, needle, from)) {
    out += MidBytes(text, from, at - from);
    from = at + static_cast<std::int64_t>(needle.Size());
  }
  return out + MidBytes(text, from, static_cast<std::int64_t>(text.Size()) - from + 1);
}

}  // namespace

Text FirstPageUrl(const Text& departure_city, const Text& arrival_city, const Text& date) {
  return Ascii("http://") + SearchHost() + Ascii("/search.action?begin=") + departure_city +
         Ascii("&end=") + arrival_city + Ascii("&date=") + date +
         Ascii("&time=0&sort=1&v=1&f=index&bd_source=");
}

Text LaterPageUrl(const Text& page_count_text, const Text& departure_city, const Text& arrival_city,
                  const Text& date, int page) {
  return Ascii("http://") + SearchHost() +
         Ascii("/search.action?f=index&v=1&time=0&sort=1&bd_source=&date=") + date +
         Ascii("&end=") + arrival_city + Ascii("&begin=") + departure_city +
         Ascii("&page.pageSize=") + IntegerText(kResultPageSize) +
         Ascii("&page.groupSize=0&page.currPageNo=") + IntegerText(page) +
         Ascii("&page.totalPageCount=") + page_count_text;
}

ResultPageContent ReadResultPage(const Text& page_text) {
  static const Text& kBreak = "<br/>"_gbk;
  static const Text& kClosingTag = " </a>"_gbk;
  static const Text& kNbsp = "&nbsp"_gbk;

  ResultPageContent content;
  content.count = TextBetween(page_text, "搜索到"_gbk, "个航班"_gbk);
  content.page_count = TextBetween(page_text, "[首页][上页] 1/"_gbk, " <a href="_gbk);
  const Text section = TextBetween(page_text, "当前按价格排序"_gbk, "返回首页"_gbk);

  const std::vector<Text> pieces = SplitText(section, "报价(查看)"_gbk);
  for (std::size_t i = 1; i <= pieces.size(); ++i) {
    const Text& piece = pieces[i - 1];
    const Text number = IntegerText(static_cast<std::int64_t>(i)) + Ascii(".");
    // A piece without its own number is the text after the last block. Looking for the number
    // first keeps a tenth block's tail from passing as a flight: with a two-digit number the
    // cut below would start a byte later and give "</a>" instead of " </a>".
    if (FindText(piece, number) == -1) break;
    const Text name = TextBetween(piece, number, kBreak);
    if (name.Empty() || name == kClosingTag) break;
    FlightRow row;
    row.flight = DecodeCharRefs(name);
    // The page writes "07:00&nbsp;T3"; with "&nbsp" gone the ";" goes with the decoding.
    row.departure = DecodeCharRefs(RemoveAll(TextBetween(piece, "起飞:"_gbk, kBreak), kNbsp));
    row.arrival = DecodeCharRefs(RemoveAll(TextBetween(piece, "到达:"_gbk, kBreak), kNbsp));
    row.lowestPrice = TextBetween(piece, "最低价:"_gbk, kBreak);
    // A flight text of blanks only decodes to nothing and ends the list there.
    if (row.flight.Empty()) break;
    content.rows.push_back(std::move(row));
  }
  return content;
}

Text ParseResultPage(SearchContext& context, const Text& page_url, int mode,
                     const Text& departure_city, const Text& arrival_city, const Text& date,
                     Text* status_text) {
  const Text url =
      mode == kFirstPageMode ? FirstPageUrl(departure_city, arrival_city, date) : page_url;
  const std::string body =
      FetchWithTimeout(context.pump, context.clock, url, Text(), Ascii("GET"), Text(), Text(),
                       Text(), Ascii("User-Agent: Java/1.6.0_22\r\n"));
  const ResultPageContent content = ReadResultPage(Utf8ToAnsi(body));

  if (status_text != nullptr) *status_text = "搜索到 "_gbk + content.count + "个航班"_gbk;

  for (const FlightRow& flight : content.rows) {
    const int row = context.latest_flights.AppendRow(Text());
    // The number follows the row's place in the list, so later pages number on.
    context.latest_flights.SetCell(row, 0, IntegerText(static_cast<std::int64_t>(row) + 1));
    context.latest_flights.SetCell(row, 1, flight.flight);
    context.latest_flights.SetCell(row, 2, flight.departure);
    context.latest_flights.SetCell(row, 3, flight.arrival);
    context.latest_flights.SetCell(row, 4, flight.lowestPrice);
    context.pump.ProcessPendingEvents();
  }
  return content.page_count;
}

void FetchRemainingPages(SearchContext& context, const Text& page_count_text,
                         const Text& departure_city, const Text& arrival_city, const Text& date) {
  const double pages = TextToNumber(page_count_text);
  // Compared as a real number first: a huge or odd count must not overflow the conversion.
  const int last_page =
      std::isfinite(pages) && pages >= 2
          ? static_cast<int>(std::min(std::trunc(pages), static_cast<double>(kMaxResultPages)))
          : 1;
  for (int page = 2; page <= last_page; ++page) {
    context.status_label.SetText("状态:正在读取第"_gbk + IntegerText(page) + "页..."_gbk);
    context.pump.ProcessPendingEvents();
    ParseResultPage(context,
                    LaterPageUrl(page_count_text, departure_city, arrival_city, date, page),
                    kGivenUrlMode, departure_city, arrival_city, date);
  }
}

}  // namespace vellora
