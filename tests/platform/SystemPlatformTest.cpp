#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "Win32.h"

namespace {

int Compare(const std::string& a, const std::string& b) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                        b.data(), static_cast<int>(b.size()));
}

// Windows sorts linguistically: only equality is the same on every platform
// where case or non-ASCII letters differ.
TEST(SystemPlatform, ComparisonIsAThreeWayOrderThatIgnoresLetterCase) {
  EXPECT_NE(Compare("\xF7", "\xD7"), CSTR_EQUAL) << "division and multiplication signs";
  const std::tuple<std::string, std::string, int> orders[] = {
      // Each range of Windows-1252 capitals at its edges, and the 0x80 row.
      {"az\xE0\xE4\xFE\xFF\x9A\x9C\x9E", "AZ\xC0\xC4\xDE\x9F\x8A\x8C\x8E", CSTR_EQUAL},
      {"B", "a", CSTR_GREATER_THAN},
      {"ab", "abc", CSTR_LESS_THAN},
      // Past the eight bytes compared at a time.
      {std::string(40, 'x'), std::string(39, 'X') + "y", CSTR_LESS_THAN}};
  for (const auto& [a, b, order] : orders) EXPECT_EQ(Compare(a, b), order) << a << " to " << b;
}

#ifndef _WIN32
// Blanks and control bytes are quoted, other bytes are not, and a long
// argument comes whole: the program's own splitting takes at most 4096 bytes
// an argument. No argument at all is what every watch-run test starts with.
TEST(SystemPlatform, TheCommandLineSplitsBackIntoTheArguments) {
  const std::string z4096(4096, 'z'), z904(904, 'z');
  const std::string command =
      ARGUMENTS_PROBE " 'C:\\My Files\\s.dat' 'a\tb' '\xE4\xF6\xFC' " + z4096 + z904;
  const std::unique_ptr<FILE, int (*)(FILE*)> probe(popen(command.c_str(), "r"), pclose);
  std::string seen;
  for (int c; probe && (c = fgetc(probe.get())) != EOF;) seen += static_cast<char>(c);
  EXPECT_EQ(seen,
            "5\n[C:\\My Files\\s.dat]\n[a\tb]\n[\xE4\xF6\xFC]\n[" + z4096 + "]\n[" + z904 + "]\n");
}
#endif

}  // namespace
