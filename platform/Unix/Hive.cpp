#include "Hive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "CaseFold.h"
#include "Win32.h"

namespace {

// A key path with its separators tidied: no empty components.
std::string Normalized(std::string_view path) {
  std::string result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      if (!result.empty()) result += '\\';
      result.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return result;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A quoted text at the start of line, with \\, \", \r and \n escapes;
// the line is left just behind the closing quote.
bool ParseQuoted(std::string_view& line, std::string& text) {
  if (line.empty() || line[0] != '"') return false;
  text.clear();
  for (size_t i = 1; i < line.size(); ++i) {
    if (line[i] == '"') {
      line.remove_prefix(i + 1);
      return true;
    }
    if (line[i] != '\\') {
      text += line[i];
      continue;
    }
    if (++i == line.size()) return false;
    switch (line[i]) {
      case '\\':
        text += '\\';
        break;
      case '"':
        text += '"';
        break;
      case 'r':
        text += '\r';
        break;
      case 'n':
        text += '\n';
        break;
      default:
        return false;
    }
  }
  return false;
}

bool ParseBytes(std::string_view text, std::string& bytes) {
  bytes.clear();
  text = Trimmed(text);
  if (text.empty()) return true;
  for (;;) {
    const std::string_view item = Trimmed(text.substr(0, text.find(',')));
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) return false;
    bytes += static_cast<char>(HexDigit(item[0]) * 16 + HexDigit(item[1]));
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

bool ParseData(std::string_view text, HiveValue& value) {
  if (!text.empty() && text[0] == '"') {
    if (!ParseQuoted(text, value.data) || !Trimmed(text).empty()) return false;
    value.type = REG_SZ;
    value.data += '\0';
    return true;
  }
  if (text.substr(0, 6) == "dword:") {
    const std::string_view digits = text.substr(6);
    if (digits.size() != 8) return false;
    uint32_t number = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) return false;
      number = number * 16 + HexDigit(c);
    }
    value.type = REG_DWORD;
    value.data.assign(reinterpret_cast<const char*>(&number), 4);
    return true;
  }
  if (text.substr(0, 4) == "hex:") {
    value.type = REG_BINARY;
    return ParseBytes(text.substr(4), value.data);
  }
  if (text.substr(0, 4) == "hex(") {
    const size_t close = text.find("):");
    if (close == std::string_view::npos || close == 4 || close > 12) return false;
    uint32_t type = 0;
    for (char c : text.substr(4, close - 4)) {
      if (HexDigit(c) < 0) return false;
      type = type * 16 + HexDigit(c);
    }
    value.type = type;
    return ParseBytes(text.substr(close + 2), value.data);
  }
  return false;
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\n') {
      quoted += "\\n";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// A string value fits between quotes when it is one zero-terminated line.
bool FitsBetweenQuotes(const HiveValue& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
  return value.data.find_first_of(std::string_view("\0\r\n", 3)) == value.data.size() - 1;
}

std::string HexBytes(const std::string& bytes) {
  std::string text;
  char item[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += (i % 25 == 0) ? ",\\\r\n  " : ",";
    snprintf(item, sizeof(item), "%02x", static_cast<unsigned char>(bytes[i]));
    text += item;
  }
  return text;
}

std::string DataText(const HiveValue& value) {
  if (FitsBetweenQuotes(value))
    return Quoted(std::string_view(value.data).substr(0, value.data.size() - 1));
  if (value.type == REG_DWORD && value.data.size() == 4) {
    uint32_t number;
    memcpy(&number, value.data.data(), 4);
    char text[16];
    snprintf(text, sizeof(text), "dword:%08x", number);
    return text;
  }
  if (value.type == REG_BINARY) return "hex:" + HexBytes(value.data);
  char prefix[16];
  snprintf(prefix, sizeof(prefix), "hex(%x):", value.type);
  return prefix + HexBytes(value.data);
}

// The text one line at a time, without its line break and trimmed.
class Lines {
 public:
  explicit Lines(std::string_view text) : text(text) {}

  bool Next(std::string_view& line) {
    if (next >= text.size()) return false;
    start = next;
    const size_t end = std::min(text.find('\n', start), text.size());
    next = end + 1;
    line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trimmed(line);
    return true;
  }
  size_t Start() const { return start; }

 private:
  std::string_view text;
  size_t start = 0;
  size_t next = 0;
};

// A value line, "name"=data or @=data. As regedit reads it, only hex data
// goes on over the following lines, after a line that ends in ",\".
bool ReadValue(std::string_view line, Lines& lines, std::string& joined, HiveValue& value) {
  value.name.clear();
  if (line[0] == '@') {
    line.remove_prefix(1);
  } else if (!ParseQuoted(line, value.name)) {
    return false;
  }
  line = Trimmed(line);
  if (line.empty() || line[0] != '=') return false;
  line = Trimmed(line.substr(1));
  if (line.substr(0, 3) == "hex" && line.ends_with(",\\")) {
    joined.assign(line);
    std::string_view more;
    while (joined.ends_with(",\\")) {
      joined.pop_back();
      if (!lines.Next(more)) return false;
      joined += more;
    }
    line = joined;
  }
  return ParseData(line, value);
}

std::string KeyText(const std::string& rootName, const HiveKey& key) {
  std::string text = "[" + rootName + (key.path.empty() ? "" : "\\" + key.path) + "]\r\n";
  for (const HiveValue& value : key.values) {
    text += (value.name.empty() ? std::string("@") : Quoted(value.name)) + "=" + DataText(value) +
            "\r\n";
  }
  return text + "\r\n";
}

}  // namespace

const HiveValue* HiveKey::Find(std::string_view name) const {
  const auto found = valueIndex.find(FoldedCopy(name));
  return found == valueIndex.end() ? nullptr : &values[found->second];
}

void HiveKey::Set(HiveValue value) {
  const std::string folded = FoldedCopy(value.name);
  const auto found = valueIndex.find(folded);
  if (found != valueIndex.end()) {
    value.name = values[found->second].name;
    values[found->second] = std::move(value);
    return;
  }
  valueIndex.emplace(folded, values.size());
  values.push_back(std::move(value));
}

bool HiveKey::Remove(std::string_view name) {
  const auto found = valueIndex.find(FoldedCopy(name));
  if (found == valueIndex.end()) return false;
  values.erase(values.begin() + static_cast<ptrdiff_t>(found->second));
  valueIndex.clear();
  for (size_t i = 0; i < values.size(); ++i) valueIndex.emplace(FoldedCopy(values[i].name), i);
  return true;
}

bool Hive::Parse(std::string newText) {
  text = std::move(newText);
  sections.clear();
  keys.clear();
  if (Index()) return true;
  text.clear();
  text.shrink_to_fit();
  sections.clear();
  keys.clear();
  preamble = 0;
  return false;
}

// Reads every line once, so that a hive with a bad line anywhere is refused
// whole; keeps only where each section lies.
bool Hive::Index() {
  bool sawHeader = false;
  HiveValue scratch;
  std::string joined;
  Lines lines(text);
  for (std::string_view line; lines.Next(line);) {
    bool ok = true;
    if (line.empty() || line[0] == ';') {
    } else if (!sawHeader) {
      ok = sawHeader = line == "REGEDIT4";
    } else if (line[0] == '[') {
      ok = OpenSection(line, lines.Start());
    } else {
      ok = (line[0] == '"' || line[0] == '@') && !sections.empty() &&
           ReadValue(line, lines, joined, scratch);
    }
    if (!ok) return false;
  }
  preamble = sections.empty() ? text.size() : sections.front().begin;
  if (!sections.empty()) sections.back().end = text.size();
  return sawHeader || text.empty();
}

bool Hive::OpenSection(std::string_view header, size_t begin) {
  if (header.back() != ']') return false;
  const std::string_view inner = header.substr(1, header.size() - 2);
  const std::string folded = FoldedCopy(inner);
  const std::string root = FoldedCopy(rootName);
  if (folded != root && !folded.starts_with(root + "\\")) return false;
  const std::string path = Normalized(inner.substr(std::min(inner.size(), rootName.size() + 1)));
  if (!sections.empty()) sections.back().end = begin;
  Key& key = keys[FoldedCopy(path)];
  if (key.sections.empty()) key.key.path = path;
  key.sections.push_back(sections.size());
  sections.push_back({begin, text.size(), &key});
  return true;
}

Hive::Key& Hive::Load(Key& key) {
  if (key.loaded) return key;
  key.loaded = true;
  HiveValue value;
  std::string joined;
  for (const size_t index : key.sections) {
    const Section& section = sections[index];
    Lines lines(std::string_view(text).substr(section.begin, section.end - section.begin));
    std::string_view line;
    lines.Next(line);
    while (lines.Next(line)) {
      if (!line.empty() && line[0] != ';' && ReadValue(line, lines, joined, value))
        key.key.Set(std::move(value));
    }
  }
  return key;
}

std::string Hive::Serialize() const {
  std::string written = text.empty() ? "REGEDIT4\r\n\r\n" : text.substr(0, preamble);
  written.reserve(text.size());
  for (const Section& section : sections) {
    if (!section.owner) continue;
    if (!section.owner->changed) {
      written.append(text, section.begin, section.end - section.begin);
    } else if (&section == &sections[section.owner->sections.front()]) {
      // A last line may end without its line break, or with a CR alone.
      if (written.back() != '\n') written += written.back() == '\r' ? "\n" : "\r\n";
      written += KeyText(rootName, section.owner->key);
    }
  }
  return written;
}

bool Hive::Exists(std::string_view path) const {
  const std::string folded = FoldedCopy(Normalized(path));
  if (folded.empty() || keys.contains(folded)) return true;
  const std::string below = folded + "\\";
  const auto next = keys.lower_bound(below);
  return next != keys.end() && next->first.starts_with(below);
}

const HiveKey* Hive::Find(std::string_view path) {
  const auto found = keys.find(FoldedCopy(Normalized(path)));
  return found == keys.end() ? nullptr : &Load(found->second).key;
}

HiveKey& Hive::Create(std::string_view path) {
  const std::string normalized = Normalized(path);
  const auto [found, made] = keys.try_emplace(FoldedCopy(normalized));
  Key& key = found->second;
  if (made) {
    key.key.path = normalized;
    key.loaded = true;
    key.sections.push_back(sections.size());
    sections.push_back({std::string::npos, std::string::npos, &key});
  }
  Load(key).changed = true;
  return key.key;
}

bool Hive::RemoveKey(std::string_view path) {
  if (!SubKeysOf(path).empty()) return false;
  const auto found = keys.find(FoldedCopy(Normalized(path)));
  if (found == keys.end()) return true;
  for (const size_t index : found->second.sections) sections[index].owner = nullptr;
  keys.erase(found);
  return true;
}

std::vector<std::string> Hive::SubKeysOf(std::string_view path) const {
  const std::string folded = FoldedCopy(Normalized(path));
  const std::string below = folded.empty() ? "" : folded + "\\";
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (auto next = keys.lower_bound(below); next != keys.end() && next->first.starts_with(below);
       ++next) {
    const std::string& written = next->second.key.path;
    if (written.size() == below.size()) continue;
    const size_t end = written.find('\\', below.size());
    const std::string name = written.substr(below.size(), end - below.size());
    if (seen.insert(FoldedCopy(name)).second) names.push_back(name);
  }
  return names;
}
