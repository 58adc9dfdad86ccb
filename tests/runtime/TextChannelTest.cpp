#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../support/ScratchMachine.h"
#include "Exceptions.h"
#include "TextChannel.h"
#ifndef _WIN32
#include <sys/stat.h>

#include <cerrno>

#include "Syscalls.h"
#endif

namespace {

const void* lastFaultAddress = nullptr;

// Runs the operation and checks the pending code the way the watch run
// does: "" when nothing was raised, else the EInOutError's code and message.
[[gnu::noinline]] std::string After(const std::function<void()>& operation) {
  operation();
  try {
    CheckPendingResult();
  } catch (Exception* e) {
    const std::string failure =
        std::to_string(dynamic_cast<EInOutError&>(*e).ioCode) + " " + e->messageText;
    lastFaultAddress = e->faultAddress;
    ReleaseException(e);
    return failure;
  }
  return "";
}

class TextChannelTest : public testing::Test {
 protected:
  TextChannelTest() { BindPath(channel, path); }
  ~TextChannelTest() override {
    if (channel.state != ChannelClosed) CloseChannel(channel);
    TakePendingResult();
  }

  // Appends the text as one line, as the snapshot does: the failure, then
  // the file.
  std::string Put(const std::string& text) {
    const std::string opened = After([&] { OpenForAppending(channel); });
    if (!opened.empty()) return opened + "|" + scratch.Read("t.txt");
    WriteText(channel, text);
    const std::string failure = After([&] { WriteLineEnd(channel), CloseChannel(channel); });
    return failure + "|" + scratch.Read("t.txt");
  }

  ScratchMachine scratch;
  std::string path = scratch.Path("t.txt");
  TTextChannel channel = {};
};

// Lines are read as the snapshot load reads them and shown each followed by
// "|"; a line is cut into pieces of 255 bytes, the buffer holds 128.
TEST_F(TextChannelTest, LinesEndAtCrOrCrLfAndDataAtTheEndMark) {
  const std::string x255(255, 'x'), y300(300, 'y'), z120(120, 'z');
  const std::pair<std::string, std::string> cases[] = {
      {"a\r\nb\nc\r\r\nd", "a|b\nc||d|"},
      {std::string("a\0b\r\nc\032d\r\n", 11), std::string("a\0b|c|", 6)},
      {x255 + "\r\nnext\r\n" + y300, x255 + "|next|" + y300 + "|"},
      {z120 + "\r\n" + z120 + "\r\n", z120 + "|" + z120 + "|"}};
  for (const auto& [bytes, expected] : cases) {
    scratch.Write("t.txt", bytes);
    OpenForReading(channel);
    std::string lines;
    for (int count = 0; !AtEndOfData(channel) && count < 10; ++count, SkipToNextLine(channel))
      lines += ReadLineText(channel) + "|";
    EXPECT_EQ(lines, expected) << testing::PrintToString(bytes.substr(0, 12));
    CloseChannel(channel);
  }
  EXPECT_EQ(After([] {}), "");
}

// The new line starts a line of its own: after the cut at the first 0x1A of
// the last 128 bytes, a last line without its line end gets one first.
TEST_F(TextChannelTest, AppendingCutsAtTheEndMarkAndEndsTheLastLine) {
  EXPECT_EQ(After([&] { OpenForAppending(channel); }), "2 Datei nicht gefunden");
  const auto* caller = reinterpret_cast<const char*>(&After);
  EXPECT_GT(static_cast<const char*>(lastFaultAddress), caller) << "raised where it is checked";
  EXPECT_LT(static_cast<const char*>(lastFaultAddress), caller + 4096);
  EXPECT_FALSE(std::filesystem::exists(scratch.HostPath("t.txt")));
  const std::string head(900, 'h'), l127(127, 'l'), e126(126, 'e');
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"\r\n", "\r\n"},
      {"a\r\n", "a\r\n"},
      {"a\r", "a\r"},
      {"a", "a\r\n"},
      {"a\n", "a\n\r\n"},
      {"\n", "\n\r\n"},
      {"ab\032\r\nlost\r\n\032", "ab\r\n"},
      {"\032" + head + "\r\n", "\032" + head + "\r\n"},
      {head + "\032" + l127, head + "\r\n"},
      {head + "\r\n\032" + e126, head + "\r\n"}};
  for (const auto& [before, kept] : cases) {
    scratch.Write("t.txt", before);
    EXPECT_EQ(Put("xyz"), "|" + kept + "xyz\r\n") << testing::PrintToString(before.substr(0, 12));
  }
}

// A path cut to fit (260 bytes, one more than fits) would name another file; a device would wait
// for ever on a read or swallow the lines. Nothing is read or written.
TEST_F(TextChannelTest, PathsThatDoNotFitAndDevicesAreRefused) {
  std::vector<std::string> unfit = {scratch.Path(std::string(260 - scratch.Path("").size(), 'p')),
                                    "NUL", scratch.Path("Aux"), scratch.Path("nul.dat2")};
#ifndef _WIN32
  mkfifo((scratch.Root() / "drive_c" / "fifo").c_str(), 0600);  // a read would wait for a writer
  unfit.push_back("C:\\fifo");
#endif
  for (const std::string& name : unfit) {
    BindPath(channel, name);
    for (auto open : {OpenForReading, CreateForWriting, OpenForAppending})
      EXPECT_EQ(After([&] { open(channel); }), "3 Ung\374ltiger Dateiname") << name;
  }
  EXPECT_TRUE(std::filesystem::is_empty(scratch.HostPath("")));
}

#ifndef _WIN32
int callsLeft = 0;

// A failed write gives up the whole append, so no part of a line is left to
// load as an entry of its own.
TEST_F(TextChannelTest, PlatformFailuresLeaveCodesAndNoPartOfALine) {
  const UnixSyscalls saved = unixSyscalls;
  unixSyscalls.read = [](int fd, void* buffer, size_t count) -> ssize_t {
    return callsLeft-- > 0 ? ::read(fd, buffer, count) : (errno = EIO, -1);
  };
  scratch.Write("t.txt", "abc");
  OpenForReading(channel);
  EXPECT_EQ(After([&] { EXPECT_TRUE(AtEndOfData(channel)); }), "1117 E/A-Fehler 1117");
  callsLeft = 1;
  EXPECT_EQ(After([&] { EXPECT_EQ(ReadLineText(channel), "abc"); }), "1117 E/A-Fehler 1117");
  EXPECT_EQ(After([&] { EXPECT_TRUE(AtEndOfData(channel)); }), "1117 E/A-Fehler 1117")
      << "a failed read is tried again, not the old buffer";

  unixSyscalls = saved;
  unixSyscalls.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    return callsLeft-- > 0 ? ::write(fd, buffer, count) : (errno = ENOSPC, -1);
  };
  const std::tuple<int, std::string, std::string> cases[] = {{0, "", std::string(130, 'a')},
                                                             {1, "b", std::string(300, 'c')},
                                                             {2, "b\r\n", std::string(300, 'c')},
                                                             {0, "b\r\n", std::string(127, 'c')}};
  for (const auto& [writes, before, text] : cases) {
    scratch.Write("t.txt", before);
    callsLeft = writes;
    EXPECT_EQ(Put(text), "112 E/A-Fehler 112|" + before) << writes;
  }
  scratch.Write("t.txt", "");
  callsLeft = 1;
  EXPECT_EQ(Put("d"), "|d\r\n") << "the line and its end go in one write";
  unixSyscalls.lseek = [](int, off_t, int) -> off_t { return errno = EIO, -1; };
  EXPECT_EQ(After([&] { OpenForAppending(channel); }), "1117 E/A-Fehler 1117");
  unixSyscalls = saved;
  EXPECT_EQ(Put("e"), "|d\r\ne\r\n") << "a handle was kept";
}
#else
TEST_F(TextChannelTest, PlatformFailuresLeaveCodesAndNoPartOfALine) {
  GTEST_SKIP() << "failures are injected into the Linux build's system calls only";
}
#endif

}  // namespace
