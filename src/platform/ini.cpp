#include "platform/ini.h"

// How the files are read and written. Where Windows' private-profile functions have a rule,
// this follows it; where they leave a point open, the decision is written here.
//
// Reading
// - A line ends at CR LF, LF or a lone CR. Blanks (space, tab) at both ends of a line are
//   ignored. A file that starts with a UTF-8 byte order mark is read as UTF-8 (as Windows
//   does) and written back as UTF-8 with the mark; every other file is GBK.
// - "[name]" starts a section. The name runs to the last "]" of the line that is a character
//   of its own, so a two-byte character whose second byte is "]" or "[" stays in the name; the
//   blanks inside the brackets are ignored. A line that starts with "[" but has no "]" is not a
//   header: it is kept and ignored, and the lines after it stay in the section before it.
// - "key=value": the key runs to the first "="; blanks around key and value are ignored, and a
//   value enclosed in a matching pair of double or single quotes loses them.
// - Lines that start with ";" are comments. Comments, blank lines, lines without "=" and lines
//   before the first header are kept byte for byte but are no keys.
// - Section and key names compare without regard to the case of ASCII letters. Letters that
//   are the second byte of a two-byte character are compared exactly.
// - Duplicate sections: reads and writes use the first section of a name; ListIniSections
//   names it once, at its first place; DeleteIniSection removes every section of the name, so
//   a deleted route cannot come back from a duplicate. A section with an empty name is not
//   listed. Duplicate keys: the first one counts.
//
// Writing
// - Every write reads the file fresh, changes only the lines it must and writes the whole file
//   back through a temporary file (safe_file.h); untouched lines keep their bytes, every line
//   ends in CR LF afterwards, the last one included.
// - A replaced key keeps its place and the spelling of its name: "name=value". A new key goes
//   after the last non-blank line of its section; a new section, "[section]" and its keys, goes
//   at the end of the file, with no blank line before it.
// - CR and LF inside a written name or value would start new lines and so could plant
//   sections; each becomes a space.
//
// Caching
// - A parsed copy of each file is kept and checked on every call: a different inode, size,
//   modification or change time means a fresh read. File times can repeat for writes that
//   come close together, so while a copy is younger than the file system's time resolution
//   (20 ms, or 2 s on file systems that keep whole seconds) the file's bytes are compared too.

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/codepage.h"
#include "platform/safe_file.h"

namespace vellora {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

enum class LineKind { kOther, kSection, kKey };

struct IniLine {
  std::string raw;  // the line without its ending, GBK
  LineKind kind = LineKind::kOther;
  std::string name;    // section or key name as written
  std::string folded;  // the name with ASCII letters in lower case
  std::string value;   // key value as read
};

struct IniDocument {
  bool utf8 = false;
  std::vector<IniLine> lines;
  // Folded section name -> index of its first header. Built by Parse for the cached copies
  // that readers share; an edited copy is written out and dropped, never indexed again.
  std::unordered_map<std::string_view, std::size_t> first_header;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Fold(std::string_view name) {
  std::string out(name);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto byte = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(byte)) {
      ++i;  // the second byte of a character is no letter
    } else if (byte >= 'A' && byte <= 'Z') {
      out[i] = static_cast<char>(byte - 'A' + 'a');
    }
  }
  return out;
}

std::string Sanitize(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

IniLine ParseLine(std::string raw) {
  IniLine line;
  line.raw = std::move(raw);
  const std::string_view content = TrimView(line.raw);
  if (content.empty() || content.front() == ';') return line;
  if (content.front() == '[') {
    std::size_t close = std::string_view::npos;
    for (std::size_t i = 1; i < content.size(); ++i) {
      const auto byte = static_cast<unsigned char>(content[i]);
      if (IsLeadByte(byte)) {
        ++i;
      } else if (byte == ']') {
        close = i;
      }
    }
    if (close == std::string_view::npos) return line;
    line.kind = LineKind::kSection;
    line.name = std::string(TrimView(content.substr(1, close - 1)));
    line.folded = Fold(line.name);
    return line;
  }
  // "=" (0x3D) is never the second byte of a GBK character, so a byte search is safe.
  const std::size_t equals = content.find('=');
  if (equals == std::string_view::npos) return line;
  line.kind = LineKind::kKey;
  line.name = std::string(TrimView(content.substr(0, equals)));
  line.folded = Fold(line.name);
  std::string_view value = TrimView(content.substr(equals + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  line.value = std::string(value);
  return line;
}

IniDocument Parse(std::string_view bytes) {
  IniDocument doc;
  std::string converted;
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    doc.utf8 = true;
    converted = GbkFromUtf8(bytes.substr(kUtf8Bom.size()));
    bytes = converted;
  }
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = bytes.size();
    doc.lines.push_back(ParseLine(std::string(bytes.substr(start, end - start))));
    if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() &&
        bytes[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    if (doc.lines[i].kind == LineKind::kSection)
      doc.first_header.try_emplace(doc.lines[i].folded, i);
  }
  return doc;
}

std::string Serialize(const IniDocument& doc) {
  std::string out;
  std::size_t size = 0;
  for (const IniLine& line : doc.lines) size += line.raw.size() + 2;
  out.reserve(size);
  for (const IniLine& line : doc.lines) {
    out += line.raw;
    out += "\r\n";
  }
  if (doc.utf8) return std::string(kUtf8Bom) + Utf8FromGbk(out);
  return out;
}

// Index of the first header of a section, or lines.size().
std::size_t FindSection(const IniDocument& doc, const std::string& folded) {
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    if (doc.lines[i].kind == LineKind::kSection && doc.lines[i].folded == folded) return i;
  }
  return doc.lines.size();
}

// One past the last line of the section whose header is at `header`.
std::size_t SectionEnd(const IniDocument& doc, std::size_t header) {
  std::size_t i = header + 1;
  while (i < doc.lines.size() && doc.lines[i].kind != LineKind::kSection) ++i;
  return i;
}

void SetKey(IniDocument& doc, std::string_view section, std::string_view key,
            std::string_view value) {
  const std::string section_name = Sanitize(section);
  const std::string key_name = Sanitize(key);
  const std::string folded_key = Fold(key_name);
  const std::size_t header = FindSection(doc, Fold(section_name));
  if (header == doc.lines.size()) {
    doc.lines.push_back(ParseLine("[" + section_name + "]"));
    doc.lines.push_back(ParseLine(key_name + "=" + Sanitize(value)));
    return;
  }
  const std::size_t end = SectionEnd(doc, header);
  for (std::size_t i = header + 1; i < end; ++i) {
    IniLine& line = doc.lines[i];
    if (line.kind == LineKind::kKey && line.folded == folded_key) {
      line = ParseLine(line.name + "=" + Sanitize(value));
      return;
    }
  }
  std::size_t insert_at = header + 1;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (!TrimView(doc.lines[i].raw).empty()) insert_at = i + 1;
  }
  doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(insert_at),
                   ParseLine(key_name + "=" + Sanitize(value)));
}

// --- the checked cache ---

struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

FileStamp StampOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::int64_t WallClockNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now);
}

// True when a later write could not leave the same stamp: the file's times lie further back
// than the file system's time resolution at the moment the bytes were read.
bool Settled(const FileStamp& stamp, std::int64_t read_at) {
  const bool whole_seconds = stamp.modified.tv_nsec == 0 && stamp.changed.tv_nsec == 0;
  const std::int64_t resolution = whole_seconds ? 2'000'000'000 : 20'000'000;
  const std::int64_t newest = std::max(Nanoseconds(stamp.modified), Nanoseconds(stamp.changed));
  return newest + resolution < read_at;
}

struct CachedFile {
  FileStamp stamp;
  std::string bytes;
  std::shared_ptr<const IniDocument> doc;
  bool settled = false;
};

std::mutex cache_mutex;  // guards the cache and orders every read-modify-write of a file
std::map<std::string, CachedFile> cache;

const std::shared_ptr<const IniDocument>& EmptyDocument() {
  static const std::shared_ptr<const IniDocument> empty = std::make_shared<IniDocument>();
  return empty;
}

// The parsed file as it is now; a missing file is an empty one. A file that exists but cannot
// be read also gives the empty document, with `error` set so that no write replaces it.
// Call with cache_mutex held.
std::shared_ptr<const IniDocument> Load(const std::filesystem::path& path, std::error_code& error) {
  error.clear();
  const std::string key = path.string();
  const std::int64_t read_at = WallClockNow();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR)
      error = std::error_code(errno, std::generic_category());
    cache.erase(key);
    return EmptyDocument();
  }
  if (!S_ISREG(st.st_mode)) {
    error = std::make_error_code(std::errc::invalid_argument);
    cache.erase(key);
    return EmptyDocument();
  }
  const FileStamp stamp = StampOf(st);
  auto found = cache.find(key);
  if (found != cache.end() && found->second.stamp == stamp && found->second.settled) {
    return found->second.doc;
  }
  std::optional<std::string> bytes = ReadWholeFile(path, error);
  if (!bytes) {
    if (error == std::errc::no_such_file_or_directory) error.clear();
    cache.erase(key);
    return EmptyDocument();
  }
  // The stamp taken before the read is kept with the bytes: if the file changed in between,
  // the next call sees a newer stamp and reads again.
  if (found != cache.end() && found->second.stamp == stamp && found->second.bytes == *bytes) {
    found->second.settled = Settled(stamp, read_at);
    return found->second.doc;
  }
  CachedFile entry;
  entry.stamp = stamp;
  entry.doc = std::make_shared<IniDocument>(Parse(*bytes));
  entry.bytes = std::move(*bytes);
  entry.settled = Settled(stamp, read_at);
  auto doc = entry.doc;
  cache[key] = std::move(entry);
  return doc;
}

template <typename Edit>
std::error_code Modify(const std::filesystem::path& path, Edit&& edit) {
  std::lock_guard lock(cache_mutex);
  std::error_code error;
  IniDocument doc = *Load(path, error);
  if (error) return error;
  doc.first_header.clear();  // its keys point into the cached copy's lines
  if (!edit(doc)) return {};
  error = WriteFileAtomically(path, Serialize(doc));
  cache.erase(path.string());
  return error;
}

}  // namespace

Text ReadIniKey(const std::filesystem::path& file, const Text& section, const Text& key) {
  std::lock_guard lock(cache_mutex);
  std::error_code ignored;  // an unreadable file reads as an empty one
  const std::shared_ptr<const IniDocument> doc = Load(file, ignored);
  const auto found = doc->first_header.find(Fold(section.Bytes()));
  if (found == doc->first_header.end()) return Text();
  const std::size_t header = found->second;
  const std::string folded_key = Fold(key.Bytes());
  const std::size_t end = SectionEnd(*doc, header);
  for (std::size_t i = header + 1; i < end; ++i) {
    const IniLine& line = doc->lines[i];
    if (line.kind == LineKind::kKey && line.folded == folded_key) return Text::FromGbk(line.value);
  }
  return Text();
}

std::error_code WriteIniKey(const std::filesystem::path& file, const Text& section, const Text& key,
                            const Text& value) {
  return WriteIniKeys(file, section, {{key, value}});
}

std::error_code WriteIniKeys(const std::filesystem::path& file, const Text& section,
                             const IniKeyValues& keys) {
  return Modify(file, [&](IniDocument& doc) {
    for (const auto& [key, value] : keys) SetKey(doc, section.Bytes(), key.Bytes(), value.Bytes());
    return !keys.empty();
  });
}

std::error_code DeleteIniSection(const std::filesystem::path& file, const Text& section) {
  const std::string folded = Fold(section.Bytes());
  return Modify(file, [&](IniDocument& doc) {
    bool changed = false;
    for (std::size_t header = FindSection(doc, folded); header < doc.lines.size();
         header = FindSection(doc, folded)) {
      const std::size_t end = SectionEnd(doc, header);
      doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(header),
                      doc.lines.begin() + static_cast<std::ptrdiff_t>(end));
      changed = true;
    }
    return changed;
  });
}

std::vector<Text> ListIniSections(const std::filesystem::path& file) {
  std::lock_guard lock(cache_mutex);
  std::error_code ignored;  // an unreadable file reads as an empty one
  const std::shared_ptr<const IniDocument> doc = Load(file, ignored);
  std::vector<Text> names;
  std::unordered_set<std::string_view> seen;
  for (const IniLine& line : doc->lines) {
    if (line.kind != LineKind::kSection || line.name.empty()) continue;
    if (!seen.insert(line.folded).second) continue;
    names.push_back(Text::FromGbk(line.name));
  }
  return names;
}

}  // namespace vellora
