#include <gtest/gtest.h>

#include "../support/Failures.h"
#include "../support/ScratchMachine.h"
#include "Exceptions.h"
#include "Streams.h"
#include "StringList.h"
#include "Win32.h"
#ifndef _WIN32
#include <sys/stat.h>

#include "Syscalls.h"
#endif

namespace {

class ListSave : public testing::Test {
 protected:
  // Saves the entries to the file; "" or the failure as "Class: message".
  std::string Save(std::initializer_list<const char*> entries, const std::string& name) {
    TStringList list;
    for (const char* text : entries) list.AppendEntry(text);
    const std::string failure = FailureOf([&] { list.WriteAllToFile(machine.Path(name)); });
    return failure == "nothing raised" ? "" : failure;
  }
  std::string CreateError(const std::string& name) {
    return "EFCreateError: Datei " + machine.Path(name) + " kann nicht erstellt werden";
  }
  size_t FileCount() const {
    return std::distance(std::filesystem::directory_iterator(machine.HostPath("")), {});
  }

  ScratchMachine machine;
};

TEST_F(ListSave, JoinedTextEndsEveryEntryWithCrLf) {
  TStringList list;
  EXPECT_EQ(list.JoinedText(), "");
  for (const char* text : {"a", "", "bc", "line\rwith\nbreaks"}) list.AppendEntry(text);
  EXPECT_EQ(list.JoinedText(), "a\r\n\r\nbc\r\nline\rwith\nbreaks\r\n");
}

TEST_F(ListSave, SaveReplacesTheFileWithExactlyTheJoinedText) {
  machine.Write("snap.dat", "old content that is longer than the new one\r\n");
  EXPECT_EQ(Save({"a", "", "bc"}, "snap.dat"), "");
  EXPECT_EQ(machine.Read("snap.dat"), "a\r\n\r\nbc\r\n");
  EXPECT_EQ(Save({}, "snap.dat"), "");
  EXPECT_EQ(machine.Read("snap.dat"), "");
  EXPECT_EQ(Save({"new"}, "made.dat"), "");
  EXPECT_EQ(machine.Read("made.dat"), "new\r\n");
  EXPECT_EQ(FileCount(), 2u) << "no new file is left beside the target";
}

// Whatever is in the way, the target keeps its bytes; a stale new file of a
// killed run is removed, never written through.
TEST_F(ListSave, WhatCannotBeCreatedRaisesWithThePathAndKeepsTheFile) {
  machine.Write("snap.dat", "accepted\r\n");
  machine.Write("victim", "untouched");
  EXPECT_EQ(Save({"a"}, "missing\\snap.dat"), CreateError("missing\\snap.dat"));
  EXPECT_EQ(Save({"a"}, "NUL.dat"), CreateError("NUL.dat"));
  std::filesystem::create_directory(machine.HostPath("snap.da~"));
  EXPECT_EQ(Save({"a"}, "snap.dat"), CreateError("snap.da~"));
  std::filesystem::remove(machine.HostPath("snap.da~"));

  const HANDLE other = CreateFileA(machine.Path("snap.dat").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(Save({"a"}, "snap.dat"), CreateError("snap.dat"));
  CloseHandle(other);
  EXPECT_EQ(machine.Read("snap.dat"), "accepted\r\n");
#ifndef _WIN32
  std::filesystem::create_symlink(machine.HostPath("victim"), machine.HostPath("snap.da~"));
  EXPECT_EQ(Save({"new"}, "snap.dat"), "");
  EXPECT_EQ(machine.Read("snap.dat"), "new\r\n");
  EXPECT_EQ(machine.Read("victim"), "untouched");
  // Wine run as root ignores the read-only mark.
  chmod(machine.HostPath("snap.dat").c_str(), 0444);
  EXPECT_EQ(Save({"a"}, "snap.dat"), CreateError("snap.dat"));
  EXPECT_EQ(machine.Read("snap.dat"), "new\r\n");
  EXPECT_EQ(std::filesystem::status(machine.HostPath("snap.dat")).permissions(),
            std::filesystem::perms(0444));
  machine.Write("stale.da~", "x");
  chmod(machine.HostPath("stale.da~").c_str(), 0444);
  EXPECT_EQ(Save({"a"}, "stale.dat"), CreateError("stale.da~"));
#endif
  EXPECT_FALSE(machine.Exists("snap.da~"));
}

// The new file's path is never longer than the target's, so a path that
// can be read can be rewritten; a rewrite through a link keeps the link.
TEST_F(ListSave, EveryPathThatOpensAlsoSavesAndLinksStay) {
  const std::string longest(259 - machine.Path("").size(), 'n');
  machine.Write(longest, "old\r\n");
  EXPECT_EQ(Save({"new"}, longest), "");
  EXPECT_EQ(machine.Read(longest), "new\r\n");
  machine.Write("saved~", "old\r\n");
  EXPECT_EQ(Save({"new"}, "saved~"), "");
  EXPECT_EQ(machine.Read("saved~"), "new\r\n");
#ifndef _WIN32
  machine.Write("target.dat", "old\r\n");
  std::filesystem::create_symlink(machine.HostPath("target.dat"), machine.HostPath("link.dat"));
  EXPECT_EQ(Save({"new"}, "link.dat"), "");
  EXPECT_TRUE(std::filesystem::is_symlink(machine.HostPath("link.dat")));
  EXPECT_EQ(machine.Read("target.dat"), "new\r\n");
#endif
}

TEST_F(ListSave, AFailedWriteFlushOrReplaceKeepsTheOldContent) {
#ifdef _WIN32
  GTEST_SKIP() << "needs the Linux platform's fault injection";
#else
  machine.Write("snap.dat", "accepted\r\n");
  const UnixSyscalls saved = unixSyscalls;
  unixSyscalls.write = [](int, const void*, size_t count) -> ssize_t {
    return count > 1 ? (errno = ENOSPC, -1) : static_cast<ssize_t>(count);
  };
  EXPECT_EQ(Save({"a", "b"}, "snap.dat"), "EWriteError: Stream-Write-Fehler");
  unixSyscalls = saved;
  unixSyscalls.fsync = [](int) { return errno = EIO, -1; };
  EXPECT_EQ(Save({"new"}, "snap.dat"), "EWriteError: Stream-Write-Fehler");
  unixSyscalls = saved;
  unixSyscalls.rename = [](const char*, const char*) { return errno = EACCES, -1; };
  EXPECT_EQ(Save({"new"}, "snap.dat"), "EWriteError: Stream-Write-Fehler");
  unixSyscalls = saved;
  EXPECT_EQ(machine.Read("snap.dat"), "accepted\r\n");
  EXPECT_EQ(FileCount(), 1u);
#endif
}

TEST_F(ListSave, TheNewFileIsHeldWithoutSharingWhileItIsWritten) {
  TFileStream stream(machine.Path("held.dat"), StreamModeCreate);
  HANDLE other = CreateFileA(machine.Path("held.da~").c_str(), GENERIC_READ, FILE_SHARE_READ,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
}

}  // namespace
