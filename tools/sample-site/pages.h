#pragma once

// The pages the sample site serves, as the program expects to find them: the travel site's
// mobile search result pages (UTF-8), its booking page, and the publisher's GBK text files.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flights.h"

namespace vellora::sample_site {

// How the site treats a route's search pages.
enum class SiteMode {
  kNormal,
  kSlow,       // stalls before answering (longer than the program waits)
  kFailing,    // closes the connection without an answer
  kEmpty,      // answers 200 with an empty body
  kMalformed,  // answers a page cut off in the middle of its flight list, with a stray byte
  kManyPages,  // sixty flights, so twelve pages of five
};

std::optional<SiteMode> ParseSiteMode(std::string_view name);
std::string_view SiteModeName(SiteMode mode);

struct RouteSettings {
  SiteMode mode = SiteMode::kNormal;
  int flights = -1;   // -1: the timetable's own number for the route
  int per_page = 5;   // flight blocks on a page
  int fail_page = 0;  // this page's request has its connection closed; 0: none
  // Shown after "1/" in the first page's paging line instead of the real page count.
  std::optional<std::string> total_text;
};

struct SearchRequest {
  std::string begin;  // UTF-8 city names, percent-decoded
  std::string end;
  std::string date;  // yyyymmdd
  int page = 1;
};

int PageCount(int flight_count, int per_page);

// One result page. Flight blocks are numbered from 1 on every page; airline names are decimal
// character references, times are followed by "&nbsp;", and every block ends in a
// "报价(查看) </a>" link.
std::string RenderResultPage(const SearchRequest& request, const std::vector<Flight>& flights,
                             const RouteSettings& settings);

// The page cut between the start and the end of its flight list, with a byte that is not UTF-8.
std::string MalformPage(const std::string& page);

// What later pages show to a client that lost the session cookie of the first page.
std::string RenderExpiredPage();

// The booking page /site/oneway_list.htm for a route (UTF-8 texts; date as the program sends it).
std::string RenderBookingPage(std::string_view departure, std::string_view arrival,
                              std::string_view date, const std::vector<Flight>& flights);

std::string RenderIndexPage(std::string_view host);
std::string RenderLinkPage(int number);

// The publisher's files, GBK: the notice ("读取公告OK*...*"), the four friend links (CR LF
// lines, links on lines 3 to 6 as "caption,url"), and the hit counter's script.
std::string NoteFile(std::string_view clock_text);
std::string LinkFile(std::string_view host);
std::string CounterPage(long today, long total);

// The site's own query encoding: every byte but letters, digits and "-_.~" as %XX.
std::string PercentEncode(std::string_view bytes);
std::string HtmlEscape(std::string_view text);
// "&#19996;&#33322;" for "东航".
std::string CharRefs(std::string_view utf8);
// Text in UTF-8 when it is valid UTF-8, otherwise taken as GBK and converted.
std::string AsUtf8(std::string_view bytes);
// Length of the UTF-8 sequence starting at `i`, or 0 when it is not well formed.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);

}  // namespace vellora::sample_site
