#include <gtest/gtest.h>

#include "../support/Failures.h"
#include "../support/ScratchMachine.h"
#include "Exceptions.h"
#include "Streams.h"
#include "StringList.h"
#include "Win32.h"
#ifndef _WIN32
#include "Syscalls.h"
#endif

namespace {

void Fill(TStringList& list, std::initializer_list<const char*> texts) {
  for (const char* text : texts) list.AppendEntry(text);
}

TEST(ListSave, JoinedTextEndsEveryEntryWithCrLf) {
  TStringList list;
  EXPECT_EQ(list.JoinedText(), "");
  Fill(list, {"a", "", "bc", "line\rwith\nbreaks"});
  EXPECT_EQ(list.JoinedText(), "a\r\n\r\nbc\r\nline\rwith\nbreaks\r\n");
}

TEST(ListSave, SaveReplacesTheFileWithExactlyTheJoinedText) {
  ScratchMachine machine;
  machine.Write("snap.dat", "old content that is longer than the new one\r\n");
  TStringList list;
  Fill(list, {"a", "", "bc"});
  list.WriteAllToFile(machine.Path("snap.dat"));
  EXPECT_EQ(machine.Read("snap.dat"), "a\r\n\r\nbc\r\n");

  TStringList empty;
  empty.WriteAllToFile(machine.Path("snap.dat"));
  EXPECT_TRUE(machine.Exists("snap.dat"));
  EXPECT_EQ(machine.Read("snap.dat"), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(machine.HostPath("")),
                          std::filesystem::directory_iterator()),
            1)
      << "no new file is left beside the target";
}

TEST(ListSave, AFolderThatDoesNotExistRaisesWithThePathAsPassed) {
  ScratchMachine machine;
  TStringList list;
  Fill(list, {"a"});
  const std::string path = machine.Path("missing\\snap.dat");
  EXPECT_EQ(FailureOf([&] { list.WriteAllToFile(path); }),
            "EFCreateError: Datei " + path + " kann nicht erstellt werden");
}

TEST(ListSave, AShortWriteRaisesAndLeavesTheOldContent) {
#ifdef _WIN32
  GTEST_SKIP() << "needs the Linux platform's fault injection";
#else
  ScratchMachine machine;
  machine.Write("snap.dat", "accepted\r\n");
  TStringList list;
  Fill(list, {"a", "b"});
  const UnixSyscalls saved = unixSyscalls;
  unixSyscalls.write = [](int, const void*, size_t count) -> ssize_t {
    errno = ENOSPC;
    return count > 1 ? -1 : static_cast<ssize_t>(count);
  };
  const std::string failure = FailureOf([&] { list.WriteAllToFile(machine.Path("snap.dat")); });
  unixSyscalls = saved;
  EXPECT_EQ(failure, "EWriteError: Stream-Write-Fehler");
  EXPECT_EQ(machine.Read("snap.dat"), "accepted\r\n");
  EXPECT_FALSE(machine.Exists("snap.dat.neu"));
#endif
}

TEST(ListSave, AFailedFlushOrReplaceKeepsTheOldContent) {
#ifdef _WIN32
  GTEST_SKIP() << "needs the Linux platform's fault injection";
#else
  ScratchMachine machine;
  machine.Write("snap.dat", "accepted\r\n");
  TStringList list;
  Fill(list, {"new"});
  const UnixSyscalls saved = unixSyscalls;
  unixSyscalls.fsync = [](int) {
    errno = EIO;
    return -1;
  };
  EXPECT_EQ(FailureOf([&] { list.WriteAllToFile(machine.Path("snap.dat")); }),
            "EWriteError: Stream-Write-Fehler");
  unixSyscalls = saved;
  unixSyscalls.rename = [](const char*, const char*) {
    errno = EACCES;
    return -1;
  };
  EXPECT_EQ(FailureOf([&] { list.WriteAllToFile(machine.Path("snap.dat")); }),
            "EWriteError: Stream-Write-Fehler");
  unixSyscalls = saved;
  EXPECT_EQ(machine.Read("snap.dat"), "accepted\r\n");
  EXPECT_FALSE(machine.Exists("snap.dat.neu"));
#endif
}

TEST(ListSave, TheFileIsHeldWithoutSharingWhileItIsWritten) {
  ScratchMachine machine;
  TFileStream stream(machine.Path("held.dat"), StreamModeCreate);
  HANDLE other = CreateFileA(machine.Path("held.dat.neu").c_str(), GENERIC_READ, FILE_SHARE_READ,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
}

}  // namespace
