// A registry hive as the Linux build keeps it: a REGEDIT4 text file, read
// whole into this model and written back whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct HiveValue {
  std::string name;
  uint32_t type = 0;
  std::string data;
};

struct HiveKey {
  std::string path;  // below the root, as first written; "" is the root itself
  std::vector<HiveValue> values;
  std::unordered_map<std::string, size_t> valueIndex;  // folded name -> position

  const HiveValue* Find(std::string_view name) const;
  void Set(HiveValue value);
  bool Remove(std::string_view name);
};

class Hive {
 public:
  // rootName is the section prefix, e.g. "HKEY_LOCAL_MACHINE".
  explicit Hive(std::string rootName) : rootName(std::move(rootName)) {}

  // False when the text is not a hive this build can read.
  bool Parse(std::string_view text);
  std::string Serialize() const;

  // A key exists when it has a section or a section below it has one.
  bool Exists(std::string_view path) const;
  HiveKey* Find(std::string_view path);
  const HiveKey* Find(std::string_view path) const;
  HiveKey& Create(std::string_view path);
  // Removes a key without subkeys; false when it has some.
  bool RemoveKey(std::string_view path);
  // The names of the key's immediate subkeys.
  std::vector<std::string> SubKeysOf(std::string_view path) const;

 private:
  void Reindex();

  std::string rootName;
  std::vector<HiveKey> keys;
  std::unordered_map<std::string, size_t> keyIndex;  // folded path -> position
  std::unordered_set<std::string> existing;          // folded paths with a section at or below
};
