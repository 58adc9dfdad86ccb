#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "../support/ScratchMachine.h"
#include "Exceptions.h"
#include "TextChannel.h"
#ifndef _WIN32
#include <unistd.h>

#include <cerrno>

#include "Syscalls.h"
#endif

namespace {

struct Failure {
  std::string message;
  int32_t ioCode = 0;
  const void* faultAddress = nullptr;
};

// Checks the pending code the way the watch run does; empty message when
// nothing was raised.
[[gnu::noinline]] Failure Check() {
  try {
    CheckPendingResult();
  } catch (Exception* e) {
    auto* error = dynamic_cast<EInOutError*>(e);
    Failure failure{e->messageText, error ? error->ioCode : -1, e->faultAddress};
    ReleaseException(e);
    return failure;
  }
  return {};
}

using Lines = std::vector<std::string>;

class TextChannelTest : public testing::Test {
 protected:
  void SetUp() override {
    TakePendingResult();
    BindPath(channel, path);
  }
  void TearDown() override {
    if (channel.state != ChannelClosed) CloseChannel(channel);
    TakePendingResult();
  }

  // Reads the file as the snapshot load does, line by line.
  Lines ReadLines(const std::string& bytes) {
    scratch.Write("t.txt", bytes);
    OpenForReading(channel);
    Lines lines;
    while (!AtEndOfData(channel) && lines.size() < 10) {
      lines.push_back(ReadLineText(channel));
      SkipToNextLine(channel);
    }
    EXPECT_EQ(Check().message, "");
    return lines;
  }
  // Appends one line as the snapshot does; the message of the failure.
  std::string Append(const std::string& text) {
    OpenForAppending(channel);
    WriteText(channel, text);
    WriteLineEnd(channel);
    CloseChannel(channel);
    return Check().message;
  }

  ScratchMachine scratch;
  std::string path = scratch.Path("t.txt");
  TTextChannel channel = {};
};

TEST_F(TextChannelTest, LinesEndAtCrOrCrLfAndDataAtTheEndMark) {
  const std::string x255(255, 'x'), y300(300, 'y'), z120(120, 'z');
  const struct {
    std::string bytes;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\nb\r\n", {"a\nb"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {std::string("a\0b", 3), {std::string("a\0b", 3)}},
      {"abc\x1A"
       "def\r\n",
       {"abc"}},
      {x255 + "\r\nnext\r\n", {x255, "next"}},
      {y300, {y300}},
      {z120 + "\r\n" + z120 + "\r\n", {z120, z120}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(testing::PrintToString(test.bytes.substr(0, 12)));
    EXPECT_EQ(ReadLines(test.bytes), test.lines);
    EXPECT_TRUE(AtEndOfData(channel));
    EXPECT_EQ(ReadLineText(channel), "");
    CloseChannel(channel);
  }
  EXPECT_EQ(Check().message, "");
}

TEST_F(TextChannelTest, WritingBuffersUntilFullOrClosed) {
  scratch.Write("t.txt", "old content");
  CreateForWriting(channel);
  EXPECT_EQ(scratch.Read("t.txt"), "");
  WriteText(channel, std::string("a\r\x1A\0", 4));
  WriteLineEnd(channel);
  EXPECT_EQ(scratch.Read("t.txt"), "");
  CloseChannel(channel);
  EXPECT_EQ(Check().message, "");
  EXPECT_EQ(channel.state, ChannelClosed);
  EXPECT_EQ(scratch.Read("t.txt"), std::string("a\r\x1A\0\r\n", 6));

  CreateForWriting(channel);
  WriteText(channel, std::string(128, 'q'));
  EXPECT_EQ(scratch.Read("t.txt"), std::string(128, 'q'));
  WriteText(channel, std::string(200, 'r'));
  EXPECT_EQ(scratch.Read("t.txt").size(), 256u);
  OpenForReading(channel);
  EXPECT_EQ(ReadLineText(channel), std::string(128, 'q') + std::string(200, 'r'));
  EXPECT_EQ(Check().message, "");
}

// The new line starts a line of its own: after the cut at the first 0x1A of
// the last 128 bytes, a last line without its line end gets one first.
TEST_F(TextChannelTest, AppendingCutsAtTheEndMarkAndEndsTheLastLine) {
  OpenForAppending(channel);
  EXPECT_EQ(Check().message, "Datei nicht gefunden");
  EXPECT_EQ(channel.state, ChannelClosed);
  EXPECT_FALSE(scratch.Exists("t.txt"));

  const std::string head(900, 'h'), ends(126, 'e');
  const struct {
    std::string before, after;
  } cases[] = {
      {"", "xyz\r\n"},
      {"a\r\n", "a\r\nxyz\r\n"},
      {"a\r", "a\rxyz\r\n"},
      {"a", "a\r\nxyz\r\n"},
      {"\n", "\n\r\nxyz\r\n"},
      {"a\n", "a\n\r\nxyz\r\n"},
      {"a\r\n\x1A", "a\r\nxyz\r\n"},
      {"ab\x1A\r\nlost\r\n\x1A", "ab\r\nxyz\r\n"},
      {"\x1A" + head + "\r\n", "\x1A" + head + "\r\nxyz\r\n"},
      {head + "\x1A" + std::string(99, 'l'), head + "\r\nxyz\r\n"},
      {head + "\x1A" + std::string(127, 'l'), head + "\r\nxyz\r\n"},
      {head + "\r\n\x1A" + ends, head + "\r\nxyz\r\n"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(testing::PrintToString(test.before.substr(0, 12)));
    scratch.Write("t.txt", test.before);
    EXPECT_EQ(Append("xyz"), "");
    EXPECT_EQ(scratch.Read("t.txt"), test.after);
  }
}

TEST_F(TextChannelTest, WrongStatesLeaveTheirOwnCodesAndTheLastOneWins) {
  TTextChannel unbound = {};
  OpenForReading(unbound);
  EXPECT_EQ(Check().ioCode, 102);
  EXPECT_EQ(unbound.state, 0u);

  CloseChannel(channel);
  const Failure closed = Check();
  EXPECT_EQ(closed.message, "E/A-Fehler 103");
  EXPECT_EQ(closed.ioCode, 103);
  WriteText(channel, "");
  EXPECT_EQ(Check().ioCode, 105);
  WriteText(channel, "a");
  WriteLineEnd(channel);
  EXPECT_EQ(Check().ioCode, 103);

  CreateForWriting(channel);
  EXPECT_TRUE(AtEndOfData(channel));
  EXPECT_EQ(ReadLineText(channel), "");
  SkipToNextLine(channel);
  EXPECT_EQ(Check().ioCode, 104);
  WriteText(channel, "kept");
  OpenForReading(channel);
  EXPECT_EQ(ReadLineText(channel), "kept");
  WriteLineEnd(channel);
  EXPECT_EQ(Check().ioCode, 105);
}

TEST_F(TextChannelTest, CheckReportsTheCallerTakesTheCodeAndEachThreadHasItsOwn) {
  const struct {
    int32_t code;
    const char* message;
  } cases[] = {
      {2, "Datei nicht gefunden"},
      {3, "Ung\374ltiger Dateiname"},
      {4, "Zu viele ge\366ffnete Dateien"},
      {5, "Dateizugriff verweigert"},
      {100, "Versuch hinter dem Dateiende zu lesen"},
      {101, "Zu wenig Speicherplatz"},
      {106, "Ung\374ltige numerische Eingabe"},
      {32, "E/A-Fehler 32"},
  };
  for (const auto& test : cases) {
    SetPendingResult(test.code);
    const Failure failure = Check();
    EXPECT_EQ(failure.message, test.message);
    EXPECT_EQ(failure.ioCode, test.code);
    EXPECT_EQ(TakePendingResult(), 0);
  }
  SetPendingResult(5);
  const auto* faultAddress = static_cast<const char*>(Check().faultAddress);
  const auto* caller = reinterpret_cast<const char*>(&Check);
  EXPECT_GT(faultAddress, caller);
  EXPECT_LT(faultAddress, caller + 4096);

  SetPendingResult(7);
  int32_t seenByThread = -1;
  std::thread([&] {
    const int32_t before = TakePendingResult();
    SetPendingResult(9);
    seenByThread = before * 100 + TakePendingResult();
  }).join();
  EXPECT_EQ(seenByThread, 9);
  EXPECT_EQ(TakePendingResult(), 7);
}

// A path cut to fit would name another file; a device would wait for ever
// on a read or swallow the lines. Nothing is read or written.
TEST_F(TextChannelTest, PathsThatDoNotFitAndDevicesAreRefused) {
  const std::string unfit[] = {scratch.Path(std::string(300 - path.size() + 5, 'p')), "NUL",
                               scratch.Path("Aux"), scratch.Path("nul.dat2")};
  for (const std::string& name : unfit) {
    BindPath(channel, name);
    for (auto open : {OpenForReading, CreateForWriting, OpenForAppending}) {
      open(channel);
      EXPECT_EQ(channel.state, ChannelClosed) << name;
      EXPECT_EQ(Check().message, "Ung\374ltiger Dateiname") << name;
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(scratch.HostPath("")));

  BindPath(channel, path + std::string(1, '\0') + "ignored");
  EXPECT_EQ(std::string(channel.pathName), path);
  scratch.Write("t.txt", "Case");
  BindPath(channel, scratch.Path("T.TXT"));
  OpenForReading(channel);
  EXPECT_EQ(ReadLineText(channel), "Case");
}

#ifndef _WIN32
int readsLeft = 0, writesLeft = 0;
ssize_t ReadThenFail(int fd, void* buffer, size_t count) {
  if (readsLeft-- > 0) return ::read(fd, buffer, count);
  return errno = EIO, -1;
}
ssize_t WriteThenFull(int fd, const void* buffer, size_t count) {
  if (writesLeft-- > 0) return ::write(fd, buffer, count);
  return errno = ENOSPC, -1;
}

// A failed write gives up everything written since the open, so no part of
// a line is left to load as an entry of its own.
TEST_F(TextChannelTest, PlatformFailuresLeaveCodesAndNoPartOfALine) {
  const UnixSyscalls saved = unixSyscalls;
  unixSyscalls.read = ReadThenFail;
  scratch.Write("t.txt", "abc");
  OpenForReading(channel);
  EXPECT_TRUE(AtEndOfData(channel));
  EXPECT_EQ(Check().ioCode, 1117);
  readsLeft = 1;
  EXPECT_EQ(ReadLineText(channel), "abc");
  EXPECT_EQ(Check().ioCode, 1117);
  CloseChannel(channel);
  unixSyscalls.read = ::read;

  unixSyscalls.write = WriteThenFull;
  const struct {
    int writes;
    std::string before, text;
  } cases[] = {
      {0, "", std::string(130, 'a')},
      {1, "b", std::string(300, 'c')},
      {2, "b\r\n", std::string(300, 'c')},
      {0, "b\r\n", "short"},
  };
  for (const auto& test : cases) {
    scratch.Write("t.txt", test.before);
    writesLeft = test.writes;
    EXPECT_EQ(Append(test.text), "E/A-Fehler 112") << test.writes;
    EXPECT_EQ(scratch.Read("t.txt"), test.before) << test.writes;
    EXPECT_EQ(channel.state, ChannelWriting);
    CloseChannel(channel);
    EXPECT_EQ(channel.state, ChannelClosed);
  }
  writesLeft = 1;
  EXPECT_EQ(Append("d"), "");
  EXPECT_EQ(scratch.Read("t.txt"), "b\r\nd\r\n");

  // A failed write-out in the close before an open must not keep the old
  // handle, which would refuse the next writer.
  writesLeft = 0;
  OpenForAppending(channel);
  WriteText(channel, "lost");
  OpenForReading(channel);
  EXPECT_EQ(Check().ioCode, 112);
  EXPECT_EQ(ReadLineText(channel), "b");
  CloseChannel(channel);
  unixSyscalls.lseek = [](int, off_t, int) -> off_t { return errno = EIO, -1; };
  OpenForAppending(channel);
  EXPECT_EQ(Check().ioCode, 1117);
  EXPECT_EQ(channel.state, ChannelClosed);
  unixSyscalls = saved;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
}
#endif

}  // namespace
