#include "Hive.h"

#include <cstdio>
#include <cstring>

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

bool Hive::Parse(std::string_view text) {
  keys.clear();
  keyIndex.clear();
  existing.clear();
  bool sawHeader = false;
  HiveKey* key = nullptr;
  std::string logical;
  size_t position = 0;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(position, end - position);
    position = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // Long hex data goes on after a backslash that ends the line.
    logical += logical.empty() ? line : Trimmed(line);
    if (logical.size() >= 2 && logical.compare(logical.size() - 2, 2, ",\\") == 0) {
      logical.pop_back();
      if (position < text.size()) continue;
      return false;
    }
    const std::string_view current = Trimmed(logical);
    bool ok = true;
    if (current.empty() || current[0] == ';') {
    } else if (!sawHeader) {
      ok = sawHeader = current == "REGEDIT4";
    } else if (current[0] == '[') {
      const std::string_view inner = current.substr(1, current.size() - 2);
      const std::string folded = FoldedCopy(inner);
      const std::string root = FoldedCopy(rootName);
      ok = current.back() == ']' && (folded == root || folded.rfind(root + "\\", 0) == 0);
      if (ok) key = &Create(inner.substr(std::min(inner.size(), rootName.size() + 1)));
    } else if ((current[0] == '"' || current[0] == '@') && key) {
      std::string_view rest = current;
      HiveValue value;
      if (rest[0] == '@') {
        rest.remove_prefix(1);
      } else {
        ok = ParseQuoted(rest, value.name);
      }
      rest = Trimmed(rest);
      ok = ok && !rest.empty() && rest[0] == '=' && ParseData(Trimmed(rest.substr(1)), value);
      if (ok) key->Set(std::move(value));
    } else {
      ok = false;
    }
    if (!ok) return false;
    logical.clear();
  }
  return sawHeader || text.empty();
}

std::string Hive::Serialize() const {
  std::string text = "REGEDIT4\r\n\r\n";
  for (const HiveKey& key : keys) {
    text += "[" + rootName + (key.path.empty() ? "" : "\\" + key.path) + "]\r\n";
    for (const HiveValue& value : key.values) {
      text += (value.name.empty() ? std::string("@") : Quoted(value.name)) + "=" + DataText(value) +
              "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

bool Hive::Exists(std::string_view path) const {
  const std::string folded = FoldedCopy(Normalized(path));
  return folded.empty() || existing.count(folded) != 0;
}

HiveKey* Hive::Find(std::string_view path) {
  const auto found = keyIndex.find(FoldedCopy(Normalized(path)));
  return found == keyIndex.end() ? nullptr : &keys[found->second];
}

const HiveKey* Hive::Find(std::string_view path) const {
  return const_cast<Hive*>(this)->Find(path);
}

HiveKey& Hive::Create(std::string_view path) {
  const std::string normalized = Normalized(path);
  if (HiveKey* key = Find(normalized)) return *key;
  keys.push_back(HiveKey{normalized, {}, {}});
  keyIndex.emplace(FoldedCopy(normalized), keys.size() - 1);
  std::string folded = FoldedCopy(normalized);
  for (;;) {
    existing.insert(folded);
    if (folded.empty()) break;
    const size_t separator = folded.rfind('\\');
    folded.resize(separator == std::string::npos ? 0 : separator);
  }
  return keys.back();
}

bool Hive::RemoveKey(std::string_view path) {
  if (!SubKeysOf(path).empty()) return false;
  const std::string folded = FoldedCopy(Normalized(path));
  const auto found = keyIndex.find(folded);
  if (found != keyIndex.end()) keys.erase(keys.begin() + static_cast<ptrdiff_t>(found->second));
  Reindex();
  return true;
}

std::vector<std::string> Hive::SubKeysOf(std::string_view path) const {
  const std::string prefix = FoldedCopy(Normalized(path));
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  for (const HiveKey& key : keys) {
    const std::string folded = FoldedCopy(key.path);
    if (folded.size() <= prefix.size() || (!prefix.empty() && folded[prefix.size()] != '\\') ||
        folded.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    const size_t start = prefix.empty() ? 0 : prefix.size() + 1;
    const size_t end = key.path.find('\\', start);
    const std::string name = key.path.substr(start, end == std::string::npos ? end : end - start);
    if (seen.insert(FoldedCopy(name)).second) names.push_back(name);
  }
  return names;
}

void Hive::Reindex() {
  std::vector<HiveKey> kept = std::move(keys);
  keys.clear();
  keyIndex.clear();
  existing.clear();
  for (HiveKey& key : kept) {
    HiveKey& copy = Create(key.path);
    copy.values = std::move(key.values);
    copy.valueIndex = std::move(key.valueIndex);
  }
}
