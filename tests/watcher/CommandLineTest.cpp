#include <gtest/gtest.h>

#include "CommandLine.h"

namespace {

std::vector<std::string> ArgumentsOf(const std::string& line) {
  std::vector<std::string> arguments;
  const int32_t count = ArgumentCountOf(line.c_str());
  for (int32_t n = 1; n <= count; ++n) arguments.push_back(ArgumentTextOf(line.c_str(), n));
  return arguments;
}

using Arguments = std::vector<std::string>;

TEST(CommandLine, SplitsAtBlanksAndControlBytes) {
  EXPECT_EQ(ArgumentsOf("KeyVigil.exe"), Arguments{});
  EXPECT_EQ(ArgumentsOf("KeyVigil.exe D:\\snap.txt"), Arguments{"D:\\snap.txt"});
  EXPECT_EQ(ArgumentsOf("KeyVigil.exe  a\tb\x01"
                        "c   "),
            (Arguments{"a", "b", "c"}));
  EXPECT_EQ(ArgumentsOf("KeyVigil.exe \xE4\xF6\xFC"), Arguments{"\xE4\xF6\xFC"});
  EXPECT_EQ(ArgumentTextOf("KeyVigil.exe a", 0), "KeyVigil.exe");
}

TEST(CommandLine, QuotesHoldBlanksAndAreDropped) {
  EXPECT_EQ(ArgumentsOf("\"C:\\Program Files\\k.exe\" \"C:\\My Files\\s.dat\""),
            Arguments{"C:\\My Files\\s.dat"});
  EXPECT_EQ(ArgumentsOf("k.exe C:\\My Files\\s.dat"), (Arguments{"C:\\My", "Files\\s.dat"}));
  EXPECT_EQ(ArgumentsOf("k.exe a\"b c\"d e"), (Arguments{"ab cd", "e"}));
  EXPECT_EQ(ArgumentsOf("k.exe \"open to the end"), Arguments{"open to the end"});
}

TEST(CommandLine, EmptyPairsAndEmptyArgumentsEndTheCount) {
  EXPECT_EQ(ArgumentCountOf("k.exe \"\""), 0);
  EXPECT_EQ(ArgumentsOf("k.exe \"\" a"), Arguments{"a"}) << "a leading pair is skipped";
  EXPECT_EQ(ArgumentsOf("k.exe \"\"\"\" a"), Arguments{"a"});
  EXPECT_EQ(ArgumentsOf("k.exe a \"\""), Arguments{"a"});
}

TEST(CommandLine, ArgumentsStopAfter4096Bytes) {
  const std::string longArgument(5000, 'x');
  const Arguments arguments = ArgumentsOf("k.exe " + longArgument);
  ASSERT_EQ(arguments.size(), 2u);
  EXPECT_EQ(arguments[0], std::string(4096, 'x'));
  EXPECT_EQ(arguments[1], std::string(904, 'x'));
  EXPECT_EQ(ArgumentsOf("k.exe " + std::string(4096, 'y')).size(), 1u);
}

}  // namespace
