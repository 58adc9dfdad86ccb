#include <gtest/gtest.h>

#include <string>

#include "Win32.h"
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

int Compare(const std::string& a, const std::string& b, DWORD flags = NORM_IGNORECASE) {
  return CompareStringA(LOCALE_USER_DEFAULT, flags, a.data(), static_cast<int>(a.size()), b.data(),
                        static_cast<int>(b.size()));
}

TEST(SystemPlatform, BothCasesOfEveryLetterCompareEqual) {
  const char* pairs[][2] = {{"abc", "ABC"},   {"\xE4", "\xC4"}, {"\xE9", "\xC9"}, {"\xFF", "\x9F"},
                            {"\x9A", "\x8A"}, {"\x9C", "\x8C"}, {"\x9E", "\x8E"}, {"\xFC", "\xDC"}};
  for (const auto& pair : pairs) {
    EXPECT_EQ(Compare(pair[0], pair[1]), CSTR_EQUAL) << pair[0];
    EXPECT_NE(Compare(pair[0], pair[1], 0), CSTR_EQUAL) << "case counts without the flag";
  }
  EXPECT_NE(Compare("a", "\xE4"), CSTR_EQUAL);
  EXPECT_NE(Compare("\xF7", "\xD7"), CSTR_EQUAL)
      << "division and multiplication signs are no letters";
}

TEST(SystemPlatform, ComparisonIsAThreeWayOrderOverCountedTexts) {
  EXPECT_EQ(Compare("a", "b"), CSTR_LESS_THAN);
  EXPECT_EQ(Compare("B", "a"), CSTR_GREATER_THAN);
  EXPECT_EQ(Compare("ab", "abc"), CSTR_LESS_THAN);
  EXPECT_EQ(Compare("", ""), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "abc", -1, "ABC", 3), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "abcdef", 3, "ABC", -1),
            CSTR_EQUAL);
  const std::string longA(40, 'x'), longB = std::string(39, 'X') + "y";
  EXPECT_EQ(Compare(longA, longB), CSTR_LESS_THAN);
}

#ifndef _WIN32
// What the probe program makes of the arguments it was started with.
std::string ArgumentsSeenBy(const std::vector<std::string>& arguments) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>(ARGUMENTS_PROBE)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(ARGUMENTS_PROBE, argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  std::string output;
  char buffer[4096];
  ssize_t count;
  while ((count = read(pipeEnds[0], buffer, sizeof(buffer))) > 0) output.append(buffer, count);
  close(pipeEnds[0]);
  waitpid(child, nullptr, 0);
  return output;
}

TEST(SystemPlatform, TheCommandLineSplitsBackIntoTheArguments) {
  EXPECT_EQ(ArgumentsSeenBy({}), "0\n");
  EXPECT_EQ(ArgumentsSeenBy({"C:\\My Files\\s.dat"}), "1\n[C:\\My Files\\s.dat]\n");
  EXPECT_EQ(ArgumentsSeenBy({"a\tb", "\xE4\xF6\xFC", "x"}), "3\n[a\tb]\n[\xE4\xF6\xFC]\n[x]\n");
  EXPECT_EQ(ArgumentsSeenBy({"", "after empty"}), "1\n[after empty]\n")
      << "a pair of quotes is skipped, so an empty argument cannot be passed";
  const std::string longArgument(5000, 'z');
  EXPECT_EQ(ArgumentsSeenBy({longArgument}),
            "2\n[" + std::string(4096, 'z') + "]\n[" + std::string(904, 'z') + "]\n");
}
#endif

}  // namespace
