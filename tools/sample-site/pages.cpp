#include "pages.h"

#include <algorithm>
#include <cstdio>

#include "platform/codepage.h"

namespace vellora::sample_site {

namespace {

constexpr std::string_view kHead =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
    "<meta name=\"viewport\" content=\"width=device-width\">";

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string DashedDate(std::string_view compact) {
  if (compact.size() != 8) return std::string(compact);
  return std::string(compact.substr(0, 4)) + "-" + std::string(compact.substr(4, 2)) + "-" +
         std::string(compact.substr(6, 2));
}

std::string FirstPageUrl(const SearchRequest& r, std::string_view sort) {
  return "/search.action?begin=" + PercentEncode(r.begin) + "&amp;end=" + PercentEncode(r.end) +
         "&amp;date=" + r.date + "&amp;time=0&amp;sort=" + std::string(sort) +
         "&amp;v=1&amp;f=index&amp;bd_source=";
}

std::string LaterPageUrl(const SearchRequest& r, int page, int total, int per_page) {
  return "/search.action?f=index&amp;v=1&amp;time=0&amp;sort=1&amp;bd_source=&amp;date=" + r.date +
         "&amp;end=" + PercentEncode(r.end) + "&amp;begin=" + PercentEncode(r.begin) +
         "&amp;page.pageSize=" + std::to_string(per_page) +
         "&amp;page.groupSize=0&amp;page.currPageNo=" + std::to_string(page) +
         "&amp;page.totalPageCount=" + std::to_string(total);
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  std::size_t n = b < 0x80                 ? 1
                  : b >= 0xC2 && b <= 0xDF ? 2
                  : b >= 0xE0 && b <= 0xEF ? 3
                  : b >= 0xF0 && b <= 0xF4 ? 4
                                           : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  if (n == 3 && ((b == 0xE0 && byte(i + 1) < 0xA0) || (b == 0xED && byte(i + 1) >= 0xA0))) return 0;
  if (n == 4 && ((b == 0xF0 && byte(i + 1) < 0x90) || (b == 0xF4 && byte(i + 1) >= 0x90))) return 0;
  return n;
}

std::optional<SiteMode> ParseSiteMode(std::string_view name) {
  for (SiteMode mode : {SiteMode::kNormal, SiteMode::kSlow, SiteMode::kFailing, SiteMode::kEmpty,
                        SiteMode::kMalformed, SiteMode::kManyPages}) {
    if (SiteModeName(mode) == name) return mode;
  }
  return std::nullopt;
}

std::string_view SiteModeName(SiteMode mode) {
  switch (mode) {
    case SiteMode::kNormal:
      return "normal";
    case SiteMode::kSlow:
      return "slow";
    case SiteMode::kFailing:
      return "failing";
    case SiteMode::kEmpty:
      return "empty";
    case SiteMode::kMalformed:
      return "malformed";
    case SiteMode::kManyPages:
      return "many";
  }
  return "normal";
}

int PageCount(int flight_count, int per_page) {
  per_page = std::max(1, per_page);
  return (std::max(0, flight_count) + per_page - 1) / per_page;
}

std::string RenderResultPage(const SearchRequest& request, const std::vector<Flight>& flights,
                             const RouteSettings& settings) {
  const int per_page = std::max(1, settings.per_page);
  const int total = PageCount(static_cast<int>(flights.size()), per_page);
  const int page = std::max(1, request.page);
  const std::string begin = HtmlEscape(request.begin);
  const std::string end = HtmlEscape(request.end);

  std::string html;
  html.reserve(2048 + 400 * static_cast<std::size_t>(per_page));
  html += kHead;
  html += "<title>" + begin + "到" + end + "机票 - 去哪儿</title></head>\n<body>\n";
  html += "<div class=\"top\"><a href=\"/\">去哪儿网</a> 机票搜索</div>\n";
  html += "<div>" + begin + " → " + end + " " + DashedDate(request.date) + "</div>\n";
  html += "<div>搜索到 " + std::to_string(flights.size()) + " 个航班</div>\n";

  const std::size_t first = static_cast<std::size_t>(page - 1) * per_page;
  if (first >= flights.size()) {
    html +=
        std::string(flights.empty() ? "<div>没有找到符合条件的航班。" : "<div>没有更多航班了。") +
        "<a href=\"" + FirstPageUrl(request, "1") + "\">重新搜索</a></div>\n</body></html>\n";
    return html;
  }

  html +=
      "<div>当前按价格排序 | <a href=\"" + FirstPageUrl(request, "0") + "\">按时间排序</a><br/>\n";
  const std::size_t last = std::min(flights.size(), first + per_page);
  for (std::size_t i = first; i < last; ++i) {
    const Flight& f = flights[i];
    html += std::to_string(i - first + 1) + "." + CharRefs(f.airline) + f.number + "<br/>\n";
    html += "起飞:" + ClockText(f.departure_minute) + "&nbsp;" + f.departure_airport + "<br/>\n";
    html += "到达:" + ClockText(f.arrival_minute) + "&nbsp;" + f.arrival_airport + "<br/>\n";
    html += "最低价:￥" + std::to_string(f.price) + "(" + DiscountText(f.price, f.full_fare) +
            ")<br/>\n";
    html += "<a href=\"/booking.action?flight=" + f.number + "&amp;date=" + request.date +
            "\">报价(查看) </a><br/>\n";
  }

  // The paging line: on the first page "[首页][上页]" are plain text, as the parser expects.
  const std::string total_text =
      page == 1 && settings.total_text ? HtmlEscape(*settings.total_text) : std::to_string(total);
  if (page == 1) {
    html += "[首页][上页] 1/" + total_text;
  } else {
    html += "<a href=\"" + LaterPageUrl(request, 1, total, per_page) + "\">[首页]</a><a href=\"" +
            LaterPageUrl(request, page - 1, total, per_page) + "\">[上页]</a> " +
            std::to_string(page) + "/" + total_text;
  }
  if (page < total) {
    html += " <a href=\"" + LaterPageUrl(request, page + 1, total, per_page) +
            "\">[下页]</a> <a href=\"" + LaterPageUrl(request, total, total, per_page) +
            "\">[尾页]</a><br/>\n";
  } else if (settings.total_text && page == 1) {
    // A page-count text of our own making still needs its " <a href=" so it can be cut out.
    html += " <a href=\"" + LaterPageUrl(request, 2, total, per_page) + "\">[下页]</a><br/>\n";
  } else {
    html += " [下页][尾页]<br/>\n";
  }
  html += "<a href=\"/\">返回首页</a></div>\n</body></html>\n";
  return html;
}

std::string MalformPage(const std::string& page) {
  const std::size_t list = page.find("当前按价格排序");
  const std::size_t home = page.find("返回首页");
  std::size_t cut = page.size() / 2;
  if (list != std::string::npos && home != std::string::npos && home > list) {
    cut = list + (home - list) / 2;
  }
  const std::string kept = page.substr(0, cut);
  std::size_t stray = kept.find("个航班");
  if (stray == std::string::npos) stray = kept.size() / 2;
  return kept.substr(0, stray) + '\xFF' + kept.substr(stray);
}

std::string RenderExpiredPage() {
  return std::string(kHead) +
         "<title>会话已过期 - 去哪儿</title></head>\n<body>\n"
         "<div>您的搜索已过期，请重新搜索。</div>\n<a href=\"/\">返回首页</a>\n</body></html>\n";
}

std::string RenderBookingPage(std::string_view departure, std::string_view arrival,
                              std::string_view date, const std::vector<Flight>& flights) {
  std::string html = std::string(kHead);
  html += "<title>" + HtmlEscape(departure) + "-" + HtmlEscape(arrival) +
          " 单程机票 - 去哪儿</title></head>\n<body>\n<h1>单程机票预订</h1>\n";
  html += "<p>出发城市：<b id=\"departure\">" + HtmlEscape(departure) +
          "</b> 到达城市：<b id=\"arrival\">" + HtmlEscape(arrival) +
          "</b> 出发日期：<b id=\"date\">" + HtmlEscape(date) + "</b></p>\n";
  if (flights.empty()) {
    html += "<p>没有找到该航线的航班。</p>\n";
  } else {
    html += "<table border=\"1\"><tr><th>航班</th><th>起飞</th><th>到达</th><th>价格</th></tr>\n";
    for (const Flight& f : flights) {
      html += "<tr><td>" + f.airline + f.number + "</td><td>" + ClockText(f.departure_minute) +
              " " + f.departure_airport + "</td><td>" + ClockText(f.arrival_minute) + " " +
              f.arrival_airport + "</td><td>￥" + std::to_string(f.price) + "</td></tr>\n";
    }
    html += "</table>\n";
  }
  html += "<p>这是 Vellora 的本机示例站点，不能真正订票。</p>\n</body></html>\n";
  return html;
}

std::string RenderIndexPage(std::string_view host) {
  const std::string h = HtmlEscape(host);
  return std::string(kHead) +
         "<title>Vellora 示例站点</title></head>\n<body>\n<h1>Vellora 示例站点</h1>\n"
         "<p>A loopback stand-in for the travel site, the publisher's home server and the hit "
         "counter.</p>\n<ul>\n"
         "<li><a href=\"/search.action?begin=%E5%8C%97%E4%BA%AC&amp;end=%E4%B8%8A%E6%B5%B7&amp;"
         "date=20300120&amp;time=0&amp;sort=1&amp;v=1&amp;f=index&amp;bd_source=\">"
         "/search.action</a> (北京 → 上海)</li>\n"
         "<li><a href=\"/qunar/note.txt\">/qunar/note.txt</a>, "
         "<a href=\"/qunar/link.txt\">/qunar/link.txt</a> (GBK)</li>\n"
         "<li><a href=\"/count2/count.asp?id=1&amp;sx=2&amp;ys=10\">/count2/count.asp</a></li>\n"
         "<li>/_sample/route?begin=&amp;end=[&amp;date=]&amp;mode=normal|slow|failing|empty|"
         "malformed|many[&amp;flights=N][&amp;per_page=N][&amp;fail_page=N][&amp;total=TEXT]"
         "</li>\n<li>/_sample/reset</li>\n</ul>\n<p>http://" +
         h + "/</p>\n</body></html>\n";
}

std::string RenderLinkPage(int number) {
  return std::string(kHead) + "<title>友情链接" + std::to_string(number) +
         "</title></head>\n<body>\n<h1>友情链接 " + std::to_string(number) +
         "</h1>\n<p>示例站点上的友情链接页面。</p>\n</body></html>\n";
}

std::string NoteFile(std::string_view clock_text) {
  return GbkFromUtf8(
      "读取公告OK*欢迎使用 Vellora 机票监控！这是本机示例站点的公告，"
      "票价会随时间缓慢变动。公告更新于 " +
      std::string(clock_text) + "。*");
}

std::string LinkFile(std::string_view host) {
  const std::string root = "http://" + std::string(host);
  return GbkFromUtf8(
      "读取友情链接OK\r\n"
      "第三行起：标题,地址\r\n"
      "示例站点首页," +
      root + "/\r\n航班时刻表," + root + "/link/2\r\n天气预报," + root + "/link/3\r\n旅游攻略," +
      root + "/link/4\r\n");
}

std::string CounterPage(long today, long total) {
  return GbkFromUtf8("document.write(\"今日访问：" + std::to_string(today) +
                     "&#160;&#160;总访问：" + std::to_string(total) + "&#160;\");\r\n");
}

std::string PercentEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string CharRefs(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = Utf8SequenceLength(utf8, i);
    if (n == 0) {
      ++i;
      continue;
    }
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(utf8[i + k]); };
    char32_t cp = n == 1   ? b(0)
                  : n == 2 ? ((b(0) & 0x1F) << 6) | (b(1) & 0x3F)
                  : n == 3 ? ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F)
                           : ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) |
                                 (b(3) & 0x3F);
    out += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
    i += n;
  }
  return out;
}

std::string AsUtf8(std::string_view bytes) {
  return IsUtf8(bytes) ? std::string(bytes) : Utf8FromGbk(bytes);
}

}  // namespace vellora::sample_site
