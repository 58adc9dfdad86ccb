// A registry hive as the Linux build keeps it: a REGEDIT4 text file. The
// text is kept as read, with an index of its sections; a key's values are
// parsed when the key is first used, and writing copies every section that
// no change touched byte for byte. So memory and time follow the size of the
// file, not the number or depth of its keys.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct HiveValue {
  std::string name;
  uint32_t type = 0;
  std::string data;

  bool operator==(const HiveValue&) const = default;
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
  // Its sections point into its keys.
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  // False when the text is not a hive this build can read (any line of any
  // section); the hive is then empty.
  bool Parse(std::string text);
  std::string Serialize() const;

  // A key exists when it has a section or a section below it has one.
  bool Exists(std::string_view path) const;
  // The key's values; null when the key has no section.
  const HiveKey* Find(std::string_view path);
  // The key to change, made when it has no section; it is written anew.
  HiveKey& Create(std::string_view path);
  // Removes a key without subkeys; false when it has some.
  bool RemoveKey(std::string_view path);
  // The names of the key's immediate subkeys.
  std::vector<std::string> SubKeysOf(std::string_view path) const;

 private:
  struct Key {
    HiveKey key;                   // its values once loaded
    std::vector<size_t> sections;  // positions in Hive::sections
    bool loaded = false;
    bool changed = false;
  };
  struct Section {
    size_t begin, end;  // bytes of the text, header line included; npos for a new key
    Key* owner;         // null once the key is removed
  };

  bool Index();
  bool OpenSection(std::string_view header, size_t begin);
  Key& Load(Key& key);

  std::string rootName;
  std::string text;
  size_t preamble = 0;  // the header and comments before the first section
  std::vector<Section> sections;
  std::map<std::string, Key, std::less<>> keys;  // by folded path
};
