#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/ScratchMachine.h"
#include "Win32.h"
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "Syscalls.h"
#endif

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

class FilePlatformTest : public testing::Test {
 protected:
  HANDLE Open(const std::string& name, DWORD access, DWORD share, DWORD creation) {
    return CreateFileA(scratch.Path(name).c_str(), access, share, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  // The code an open leaves (183 or 0 when it succeeded); the handle is closed.
  DWORD OpenResult(const std::string& name, DWORD access, DWORD share, DWORD creation) {
    const HANDLE file = Open(name, access, share, creation);
    const DWORD code = GetLastError();
    if (file == INVALID_HANDLE_VALUE) return code;
    CloseHandle(file);
    return code == ERROR_ALREADY_EXISTS ? code : 0;
  }
  // The code of a move of the file "from" onto the name (0 for success).
  DWORD MoveResult(const std::string& name, DWORD flags = MOVEFILE_REPLACE_EXISTING) {
    const std::string from = scratch.Path("from"), to = scratch.Path(name);
    return MoveFileExA(from.c_str(), to.c_str(), flags) ? 0 : GetLastError();
  }
  DWORD DeleteResult(const std::string& name) {
    return DeleteFileA(scratch.Path(name).c_str()) ? 0 : GetLastError();
  }

  ScratchMachine scratch;
};

TEST_F(FilePlatformTest, OpensCreateEmptyAndRefuseAsWindowsDoes) {
  scratch.Write("kept.txt", "content");
  scratch.Write("old.txt", "content");
  std::filesystem::create_directory(scratch.HostPath("folder"));
  const struct {
    const char* name;
    DWORD access, share, creation, code;
  } cases[] = {
      {"missing.txt", GENERIC_READ, kShareAll, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {"kept.txt", GENERIC_WRITE, kShareAll, CREATE_NEW, ERROR_FILE_EXISTS},
      {"nofolder\\x.dat", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"folder", GENERIC_READ, kShareAll, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"folder", GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
      {"a?b", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_INVALID_NAME},
      {"new.txt", GENERIC_READ, 0, OPEN_ALWAYS, ERROR_SUCCESS},
      {"kept.txt", GENERIC_WRITE, 0, OPEN_ALWAYS, ERROR_ALREADY_EXISTS},
      {"old.txt", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_ALREADY_EXISTS},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(OpenResult(test.name, test.access, test.share, test.creation), test.code)
        << test.name << " " << test.creation;
  }
  EXPECT_EQ(scratch.Read("kept.txt") + "|" + scratch.Read("old.txt"), "content|");
  EXPECT_TRUE(scratch.Exists("new.txt"));
  EXPECT_FALSE(scratch.Exists("nofolder"));
}

// A second opener, a delete and a replace against a file one handle holds.
TEST_F(FilePlatformTest, ShareModesRefuseConflictingOpenersDeletesAndReplaces) {
  const struct {
    DWORD access, share, otherAccess, otherShare, code;
  } cases[] = {
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, 0},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll, ERROR_SHARING_VIOLATION},
      {GENERIC_WRITE, kShareAll, GENERIC_READ, FILE_SHARE_READ, ERROR_SHARING_VIOLATION},
      {GENERIC_WRITE, kShareAll, GENERIC_READ, kShareAll, 0},
      {kReadWrite, 0, GENERIC_READ, kShareAll, ERROR_SHARING_VIOLATION},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(testing::Message() << test.access << test.share << test.otherAccess);
    scratch.Write("f.txt", "kept");
    scratch.Write("from", "new");
    const HANDLE held = Open("f.txt", test.access, test.share, OPEN_EXISTING);
    const DWORD creation = test.otherAccess == GENERIC_WRITE ? TRUNCATE_EXISTING : OPEN_EXISTING;
    EXPECT_EQ(OpenResult("f.txt", test.otherAccess, test.otherShare, creation), test.code);
    EXPECT_EQ(DeleteResult("f.txt"), DWORD{ERROR_SHARING_VIOLATION});
    // Wine, as Windows, refuses to replace a held file with 5, not 32.
    EXPECT_EQ(MoveResult("f.txt"), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_TRUE(CloseHandle(held));
    EXPECT_EQ(scratch.Read("f.txt"), "kept");
  }
  EXPECT_EQ(MoveResult("f.txt"), 0u);
  EXPECT_EQ(scratch.Read("f.txt"), "new");
}

TEST_F(FilePlatformTest, MoveReplacesOnlyWhenAskedAndDeleteRemoves) {
  scratch.Write("from", "new");
  scratch.Write("old.dat", "old");
  EXPECT_EQ(MoveResult("old.dat", 0), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(scratch.Read("old.dat"), "old");
  EXPECT_EQ(MoveResult("old.dat", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), 0u);
  EXPECT_EQ(scratch.Read("old.dat"), "new");
  EXPECT_EQ(MoveResult("old.dat"), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(DeleteResult("old.dat"), 0u);
  EXPECT_EQ(DeleteResult("old.dat"), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(DeleteResult("nofolder\\x"), DWORD{ERROR_PATH_NOT_FOUND});
  EXPECT_TRUE(std::filesystem::is_empty(scratch.HostPath("")));
}

TEST_F(FilePlatformTest, DeviceNamesOpenDevicesInAnyFolderAndCase) {
  std::vector<std::string> devices = {"NUL", "nul.txt", scratch.Path("Aux"),
                                      scratch.Path("nUl.dat2")};
#ifndef _WIN32
  devices.insert(devices.end(), {"C:\\no folder\\COM1", "lpt9", "PRN .x", "con:"});
#endif
  for (const std::string& name : devices) {
    const HANDLE device =
        CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetFileType(device), DWORD{FILE_TYPE_CHAR}) << name;
    EXPECT_TRUE(CloseHandle(device));
    EXPECT_FALSE(CloseHandle(device));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    EXPECT_FALSE(DeleteFileA(name.c_str())) << name;
  }
  for (const char* name : {"NUL2", "COM10", "CONSOLE", "auxiliary.dat"}) {
    const HANDLE file = Open(name, GENERIC_WRITE, 0, CREATE_NEW);
    EXPECT_EQ(GetFileType(file), DWORD{FILE_TYPE_DISK}) << name;
    CloseHandle(file);
  }
}

#ifndef _WIN32
// The Linux stand-ins only: Wine run as root ignores the read-only mark, and
// the system call table is theirs.

TEST_F(FilePlatformTest, NamesBelowADriveIgnoreLetterCase) {
  scratch.Write("KeyVigil.dat", "a");
  scratch.Write("\304nderung", "b");  // Windows-1252 capital A umlaut
  for (const char* name : {"keyvigil.dat", "..\\SCRATCH\\KEYVIGIL.DAT", "\344NDERUNG",
                           "..\\..\\..\\scratch\\KeyVigil.dat"}) {
    EXPECT_EQ(OpenResult(name, GENERIC_READ, kShareAll, OPEN_EXISTING), 0u) << name;
  }
  EXPECT_EQ(OpenResult("NewFile.Dat", GENERIC_WRITE, 0, CREATE_NEW), 0u);
  EXPECT_TRUE(scratch.Exists("NewFile.Dat"));
  EXPECT_EQ(OpenResult(std::string(300, 'n'), GENERIC_WRITE, 0, CREATE_ALWAYS),
            DWORD{ERROR_FILENAME_EXCED_RANGE});
  scratch.Write("from", "new");
  EXPECT_EQ(MoveResult("KEYVIGIL.DAT"), 0u);
  EXPECT_EQ(scratch.Read("KeyVigil.dat"), "new");
  EXPECT_FALSE(scratch.Exists("KEYVIGIL.DAT"));
  const std::string hostPath = scratch.HostPath("KeyVigil.dat").string();
  const HANDLE host =
      CreateFileA(hostPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(host, INVALID_HANDLE_VALUE);
  CloseHandle(host);
}

TEST_F(FilePlatformTest, ReadOnlyFilesRefuseWritersDeletesAndReplaces) {
  scratch.Write("ro.txt", "x");
  scratch.Write("from", "new");
  chmod(scratch.HostPath("ro.txt").c_str(), 0444);
  EXPECT_EQ(OpenResult("ro.txt", GENERIC_WRITE, kShareAll, OPEN_EXISTING),
            DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(OpenResult("ro.txt", GENERIC_READ, kShareAll, OPEN_EXISTING), 0u);
  EXPECT_EQ(MoveResult("ro.txt"), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(DeleteResult("ro.txt"), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(scratch.Read("ro.txt"), "x");
}

int writesBeforeFull = 0;

TEST_F(FilePlatformTest, SystemCallFailuresBecomeWindowsCodes) {
  const UnixSyscalls saved = unixSyscalls;
  HANDLE file = Open("f.txt", kReadWrite, 0, CREATE_ALWAYS);
  DWORD count = 99;
  // Writes half of each request; the disk is full after writesBeforeFull writes.
  unixSyscalls.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    if (writesBeforeFull-- <= 0) return errno = ENOSPC, -1;
    return ::write(fd, buffer, (count + 1) / 2);
  };
  writesBeforeFull = 1;
  EXPECT_FALSE(WriteFile(file, "abcd", 4, &count, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_DISK_FULL});
  EXPECT_EQ(count, 2u);
  unixSyscalls.read = [](int, void*, size_t) -> ssize_t { return errno = EIO, -1; };
  EXPECT_FALSE(ReadFile(file, &count, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), 1117u);
  unixSyscalls.close = [](int fd) { return ::close(fd), errno = EIO, -1; };
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  unixSyscalls = saved;
  EXPECT_EQ(scratch.Read("f.txt"), "ab");
}

TEST_F(FilePlatformTest, ShareModesHoldBetweenProcessesAndPipesAreTyped) {
  scratch.Write("f.txt", "x");
  scratch.Write("from", "new");
  int toParent[2], toChild[2];
  ASSERT_EQ(pipe(toParent) | pipe(toChild), 0);
  const pid_t child = fork();
  if (child == 0) {
    char opened = Open("f.txt", kReadWrite, 0, OPEN_EXISTING) != INVALID_HANDLE_VALUE;
    (void)!write(toParent[1], &opened, 1);
    close(toChild[1]);
    (void)!read(toChild[0], &opened, 1);  // until the parent closes its end
    _exit(0);
  }
  char opened = 0;
  ASSERT_EQ(read(toParent[0], &opened, 1), 1);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(OpenResult("f.txt", GENERIC_READ, kShareAll, OPEN_EXISTING),
            DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(MoveResult("f.txt"), DWORD{ERROR_ACCESS_DENIED});
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(OpenResult("f.txt", GENERIC_READ, kShareAll, OPEN_EXISTING), 0u);

  ASSERT_EQ(mkfifo(scratch.HostPath("fifo").c_str(), 0600), 0);
  const HANDLE fifo = Open("fifo", kReadWrite, kShareAll, OPEN_EXISTING);
  EXPECT_EQ(GetFileType(fifo), DWORD{FILE_TYPE_PIPE});
  CloseHandle(fifo);
}
#endif

}  // namespace
