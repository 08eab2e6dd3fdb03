#include "flights.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <numbers>
#include <set>

namespace vellora::sample_site {

namespace {

struct Airport {
  std::string_view city;
  std::string_view name;  // as the site prints it, terminal included
  double latitude;
  double longitude;
  std::string_view home_airline;  // two-letter code of the carrier based there, or ""
};

// The big airports get real names and positions; other cities fly from "<city>" airports placed
// by a hash, which is all a stand-in needs.
constexpr std::array kAirports = {
    Airport{"北京", "首都T3", 40.08, 116.58, "CA"}, Airport{"上海", "虹桥T2", 31.20, 121.34, "MU"},
    Airport{"广州", "白云", 23.39, 113.30, "CZ"},   Airport{"深圳", "宝安T3", 22.64, 113.81, "ZH"},
    Airport{"成都", "双流T2", 30.58, 103.95, "3U"}, Airport{"重庆", "江北T2", 29.72, 106.64, "CA"},
    Airport{"厦门", "高崎T3", 24.54, 118.13, "MF"}, Airport{"昆明", "长水", 25.10, 102.93, "KY"},
    Airport{"杭州", "萧山", 30.23, 120.43, "CA"},   Airport{"西安", "咸阳T2", 34.44, 108.75, "MU"},
    Airport{"海口", "美兰", 19.93, 110.46, "HU"},   Airport{"哈尔滨", "太平", 45.62, 126.25, "CZ"},
    Airport{"长沙", "黄花T2", 28.19, 113.22, "CZ"}, Airport{"武汉", "天河T2", 30.78, 114.21, "MU"},
    Airport{"大连", "周水子", 38.97, 121.54, "CZ"}, Airport{"南京", "禄口T2", 31.74, 118.86, "MU"},
    Airport{"沈阳", "桃仙", 41.64, 123.48, "CZ"},   Airport{"青岛", "流亭", 36.27, 120.37, "SC"},
    Airport{"三亚", "凤凰", 18.30, 109.41, "HU"},   Airport{"郑州", "新郑T2", 34.52, 113.84, "CZ"},
    Airport{"天津", "滨海T2", 39.12, 117.35, "GS"}, Airport{"长春", "龙嘉", 43.99, 125.68, "CZ"},
    Airport{"南宁", "吴圩", 22.61, 108.17, "CZ"},   Airport{"济南", "遥墙", 36.86, 117.22, "SC"},
    Airport{"贵阳", "龙洞堡", 26.54, 106.80, "CZ"}, Airport{"福州", "长乐", 25.93, 119.66, "MF"},
    Airport{"温州", "永强", 27.91, 120.85, "MU"},   Airport{"太原", "武宿", 37.75, 112.63, "HU"},
    Airport{"桂林", "两江", 25.22, 110.04, "CZ"},   Airport{"宁波", "栎社", 29.83, 121.46, "MU"},
};

// The cities of the route editor's picker beyond the big airports above.
constexpr std::string_view kOtherCities[] = {
    "安庆",     "阿勒泰",   "安康",     "鞍山",     "安顺",     "安阳",     "阿克苏",   "包头",
    "蚌埠",     "北海",     "百色",     "保山",     "博乐",     "长治",     "长海",     "常州",
    "昌都",     "朝阳",     "潮州",     "常德",     "长白山",   "赤峰",     "大同",     "达县",
    "大足",     "东营",     "大庆",     "丹东",     "大理",     "敦煌",     "鄂尔多斯", "恩施",
    "二连浩特", "佛山",     "阜阳",     "富蕴",     "广元",     "赣州",     "格尔木",   "广汉",
    "固原",     "呼和浩特", "哈密",     "黑河",     "海拉尔",   "衡阳",     "黄山",     "邯郸",
    "合肥",     "黄龙",     "汉中",     "和田",     "惠州",     "吉安",     "吉林",     "酒泉",
    "鸡西",     "晋江",     "锦州",     "景德镇",   "嘉峪关",   "井冈山",   "济宁",     "九江",
    "佳木斯",   "喀什",     "康定",     "克拉玛依", "库尔勒",   "喀纳斯",   "库车",     "兰州",
    "洛阳",     "丽江",     "梁平",     "荔波",     "庐山",     "林芝",     "柳州",     "泸州",
    "连云港",   "黎平",     "连城",     "拉萨",     "临沧",     "临沂",     "牡丹江",   "芒市",
    "满洲里",   "绵阳",     "梅县",     "漠河",     "南充",     "南阳",     "南通",     "那拉提",
    "南昌",     "攀枝花",   "衡州",     "秦皇岛",   "庆阳",     "且末",     "齐齐哈尔", "汕头",
    "石家庄",   "思茅",     "鄯善",     "韶关",     "沙市",     "苏州",     "唐山",     "塔城",
    "腾冲",     "台州",     "天水",     "通辽",     "吐鲁番",   "威海",     "梧州",     "文山",
    "无锡",     "潍坊",     "武夷山",   "乌兰浩特", "乌鲁木齐", "芜湖",     "万州",     "乌海",
    "兴义",     "西昌",     "香格里拉", "襄樊",     "西宁",     "锡林浩特", "西双版纳", "徐州",
    "兴城",     "兴宁",     "邢台",     "义乌",     "永州",     "榆林",     "延安",     "运城",
    "烟台",     "银川",     "宜昌",     "宜宾",     "盐城",     "延吉",     "玉树",     "伊宁",
    "伊春",     "珠海",     "昭通",     "张家界",   "舟山",     "中卫",     "芷江",     "湛江",
};

struct Airline {
  std::string_view code;
  std::string_view name;
};

constexpr std::array kAirlines = {
    Airline{"CA", "国航"}, Airline{"MU", "东航"},   Airline{"CZ", "南航"}, Airline{"HU", "海航"},
    Airline{"ZH", "深航"}, Airline{"MF", "厦航"},   Airline{"3U", "川航"}, Airline{"SC", "山航"},
    Airline{"FM", "上航"}, Airline{"HO", "吉祥"},   Airline{"9C", "春秋"}, Airline{"KY", "昆航"},
    Airline{"GS", "天航"}, Airline{"JD", "首都航"},
};

std::string_view TrimBlanks(std::string_view text) {
  while (text.starts_with(" ")) text.remove_prefix(1);
  while (text.ends_with(" ")) text.remove_suffix(1);
  while (text.starts_with("\u3000")) text.remove_prefix(3);
  while (text.ends_with("\u3000")) text.remove_suffix(3);
  return text;
}

// SplitMix64: cheap, well-mixed numbers from a seed.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double Unit(std::uint64_t x) { return static_cast<double>(Mix(x) >> 11) * 0x1.0p-53; }

Airport AirportOf(std::string_view city) {
  for (const Airport& airport : kAirports) {
    if (airport.city == city) return airport;
  }
  const std::uint64_t h = Fnv1a(city);
  return Airport{city, city, 21.0 + 25.0 * Unit(h), 87.0 + 40.0 * Unit(h + 1), ""};
}

double DistanceKm(const Airport& a, const Airport& b) {
  constexpr double kRadians = std::numbers::pi / 180.0;
  const double dlat = (b.latitude - a.latitude) * kRadians;
  const double dlon = (b.longitude - a.longitude) * kRadians;
  const double s = std::sin(dlat / 2) * std::sin(dlat / 2) +
                   std::cos(a.latitude * kRadians) * std::cos(b.latitude * kRadians) *
                       std::sin(dlon / 2) * std::sin(dlon / 2);
  return 2 * 6371.0 * std::asin(std::min(1.0, std::sqrt(s)));
}

const Airline& AirlineByCode(std::string_view code) {
  for (const Airline& airline : kAirlines) {
    if (airline.code == code) return airline;
  }
  return kAirlines[0];
}

bool IsBigAirport(std::string_view city) {
  return std::any_of(kAirports.begin(), kAirports.end(),
                     [&](const Airport& a) { return a.city == city; });
}

int RoundTo10(double yuan) { return static_cast<int>(std::lround(yuan / 10.0)) * 10; }

}  // namespace

std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t seed) {
  std::uint64_t hash = seed;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

bool IsKnownCity(std::string_view city) {
  city = TrimBlanks(city);
  return IsBigAirport(city) || std::find(std::begin(kOtherCities), std::end(kOtherCities), city) !=
                                   std::end(kOtherCities);
}

bool IsValidCompactDate(std::string_view date) {
  if (date.size() != 8) return false;
  for (char c : date) {
    if (c < '0' || c > '9') return false;
  }
  const int year = std::stoi(std::string(date.substr(0, 4)));
  const int month = std::stoi(std::string(date.substr(4, 2)));
  const int day = std::stoi(std::string(date.substr(6, 2)));
  if (year < 1900 || month < 1 || month > 12 || day < 1) return false;
  const std::chrono::year_month_day ymd{std::chrono::year(year), std::chrono::month(month),
                                        std::chrono::day(day)};
  return ymd.ok();
}

std::string ClockText(int minute_of_day) {
  minute_of_day = ((minute_of_day % 1440) + 1440) % 1440;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", minute_of_day / 60, minute_of_day % 60);
  return text;
}

std::string DiscountText(int price, int full_fare) {
  if (full_fare <= 0 || price >= full_fare) return "全价";
  const int tenths = std::max(1, static_cast<int>(std::lround(price * 100.0 / full_fare)));
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d折", tenths / 10, tenths % 10);
  return text;
}

std::vector<Flight> FlightsFor(std::string_view begin, std::string_view end, std::string_view date,
                               std::chrono::system_clock::time_point now, int count) {
  begin = TrimBlanks(begin);
  end = TrimBlanks(end);
  if (begin.empty() || end.empty() || begin == end || !IsValidCompactDate(date)) return {};
  if (count < 0) {
    if (!IsKnownCity(begin) || !IsKnownCity(end)) return {};
  }

  const Airport from = AirportOf(begin);
  const Airport to = AirportOf(end);
  const std::uint64_t route = Fnv1a(end, Fnv1a("|", Fnv1a(begin)));
  const std::uint64_t seed = Fnv1a(date, route);
  const bool big_pair = IsBigAirport(begin) && IsBigAirport(end);

  if (count < 0) {
    // Trunk routes between big airports have many flights a day, small ones a few.
    count = big_pair ? 8 + static_cast<int>(Mix(route) % 15) : 2 + static_cast<int>(Mix(route) % 5);
  }

  const double km = std::max(250.0, DistanceKm(from, to));
  const int block_minutes = (40 + static_cast<int>(km / 12.5)) / 5 * 5;
  const int full_fare = std::max(400, RoundTo10(km * 0.75 + 100));

  // Carriers on the route: those based at either end, then the big three and a few others.
  std::vector<std::string_view> carriers;
  for (std::string_view code : {from.home_airline, to.home_airline}) {
    if (!code.empty()) carriers.push_back(code);
  }
  for (std::string_view code : {"CA", "MU", "CZ", "HU", "ZH", "3U", "FM", "HO", "9C", "SC"}) {
    if (carriers.size() < 7 && std::find(carriers.begin(), carriers.end(), code) == carriers.end())
      carriers.push_back(code);
  }

  // Minutes since the epoch drive the drift: fares swing by up to 6 % over a six-hour period.
  const double minutes = static_cast<double>(
      std::chrono::duration_cast<std::chrono::minutes>(now.time_since_epoch()).count());

  std::vector<Flight> flights;
  std::set<std::string> numbers;
  for (int i = 0; i < count; ++i) {
    const std::uint64_t f = Mix(seed + 0x1000 + static_cast<std::uint64_t>(i));
    const Airline& airline = AirlineByCode(carriers[f % carriers.size()]);
    std::string number;
    for (std::uint64_t attempt = 0; number.empty() || numbers.contains(number); ++attempt) {
      number = std::string(airline.code) + std::to_string(1001 + Mix(f + attempt) % 8998);
    }
    numbers.insert(number);

    Flight flight;
    flight.airline = std::string(airline.name);
    flight.number = number;
    // Departures from 06:30 to 22:30, on five-minute marks.
    flight.departure_minute = 390 + static_cast<int>(Mix(f + 7) % 193) * 5;
    flight.arrival_minute =
        flight.departure_minute + block_minutes + static_cast<int>(Mix(f + 11) % 5) * 5;
    flight.departure_airport = std::string(from.name);
    flight.arrival_airport = std::string(to.name);
    flight.full_fare = full_fare;
    const double base = 0.3 + 0.7 * Unit(f + 13);
    const double drift =
        0.06 * std::sin(2 * std::numbers::pi * minutes / 360.0 + 6.283 * Unit(f + 17));
    flight.price = std::clamp(RoundTo10(full_fare * (base + drift)), 100, full_fare);
    flights.push_back(std::move(flight));
  }
  std::stable_sort(flights.begin(), flights.end(), [](const Flight& a, const Flight& b) {
    return a.price != b.price ? a.price < b.price : a.departure_minute < b.departure_minute;
  });
  return flights;
}

}  // namespace vellora::sample_site
