// Splits one fuzzer input into the pieces a target needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The input cut at every zero byte into at most `count` pieces; the last one
// keeps any further zero bytes. Missing pieces are empty.
inline std::vector<std::string> FuzzPieces(const uint8_t* data, size_t size, size_t count) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> pieces;
  while (pieces.size() + 1 < count) {
    const size_t zero = rest.find('\0');
    if (zero == std::string_view::npos) break;
    pieces.emplace_back(rest.substr(0, zero));
    rest.remove_prefix(zero + 1);
  }
  pieces.emplace_back(rest);
  pieces.resize(count);
  return pieces;
}
