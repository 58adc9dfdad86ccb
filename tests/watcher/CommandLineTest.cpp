#include <gtest/gtest.h>

#include "CommandLine.h"

namespace {

using Arguments = std::vector<std::string>;

Arguments ArgumentsOf(const std::string& line) {
  Arguments arguments;
  const int32_t count = ArgumentCountOf(line.c_str());
  for (int32_t n = 1; n <= count; ++n) arguments.push_back(ArgumentTextOf(line.c_str(), n));
  return arguments;
}

TEST(CommandLine, SplitsAsWindowsProgramsOfItsKindDo) {
  const std::string x4096(4096, 'x');
  const struct {
    std::string line;
    Arguments arguments;
  } cases[] = {
      {"KeyVigil.exe", {}},
      {"KeyVigil.exe  a\tb\001c   ", {"a", "b", "c"}},
      {"KeyVigil.exe \xE4\xF6\xFC !x", {"\xE4\xF6\xFC", "!x"}},
      {"\"C:\\Program Files\\k.exe\" \"C:\\My Files\\s.dat\"", {"C:\\My Files\\s.dat"}},
      {"k.exe a\"b c\"d e", {"ab cd", "e"}},
      {"k.exe \"open to the end", {"open to the end"}},
      // An empty pair in front is skipped; an empty argument ends the count.
      {"k.exe \"\"", {}},
      {"k.exe \"\" a", {"a"}},
      {"k.exe a \"\"", {"a"}},
      // An argument holds at most 4,096 bytes, quoted or not.
      {"k.exe " + x4096, {x4096}},
      {"k.exe " + x4096 + "yz", {x4096, "yz"}},
      {"k.exe \"" + x4096 + "y z\"", {x4096, "y", "z"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ArgumentsOf(c.line), c.arguments) << c.line.substr(0, 60);
  EXPECT_EQ(ArgumentTextOf("KeyVigil.exe a", 0), "KeyVigil.exe");
}

}  // namespace
