#include <gtest/gtest.h>

#include <string>

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

class FilePlatformTest : public testing::Test {
 protected:
  HANDLE Open(const std::string& name, DWORD access, DWORD share, DWORD creation) {
    return CreateFileA(scratch.Path(name).c_str(), access, share, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  // The Windows code of an open that must fail.
  DWORD OpenFailure(const std::string& name, DWORD access, DWORD share, DWORD creation) {
    const HANDLE file = Open(name, access, share, creation);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(file);
    return ERROR_SUCCESS;
  }

  ScratchMachine scratch;
};

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

TEST_F(FilePlatformTest, DispositionsCreateEmptyAndRefuseAsWindowsDoes) {
  scratch.Write("old.txt", "content");
  EXPECT_EQ(OpenFailure("missing.txt", GENERIC_READ, kShareAll, OPEN_EXISTING),
            DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(OpenFailure("old.txt", GENERIC_WRITE, kShareAll, CREATE_NEW), DWORD{ERROR_FILE_EXISTS});
  EXPECT_EQ(scratch.Read("old.txt"), "content");

  HANDLE file = Open("old.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);
  EXPECT_TRUE(CloseHandle(file));

  file = Open("new.txt", GENERIC_READ, 0, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_TRUE(scratch.Exists("new.txt"));
}

TEST_F(FilePlatformTest, MissingFoldersAndFoldersAsFilesFail) {
  EXPECT_EQ(OpenFailure("nofolder\\x.dat", GENERIC_WRITE, 0, CREATE_ALWAYS),
            DWORD{ERROR_PATH_NOT_FOUND});
  EXPECT_FALSE(scratch.Exists("nofolder"));
  std::filesystem::create_directory(scratch.HostPath("folder"));
  EXPECT_EQ(OpenFailure("folder", GENERIC_READ, kShareAll, OPEN_EXISTING),
            DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(OpenFailure("folder", GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS),
            DWORD{ERROR_ACCESS_DENIED});
}

TEST_F(FilePlatformTest, SizePositionAndCutFollowTheHandle) {
  const HANDLE file = Open("data.txt", kReadWrite, 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(file, "hello world", 11, &count, nullptr));
  EXPECT_EQ(count, 11u);
  EXPECT_EQ(GetFileSize(file, nullptr), 11u);
  EXPECT_EQ(SetFilePointer(file, 5, nullptr, FILE_BEGIN), 5u);
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_END), 3u);
  char bytes[8] = {};
  ASSERT_TRUE(ReadFile(file, bytes, sizeof bytes, &count, nullptr));
  EXPECT_EQ(std::string(bytes, count), "lo");
  ASSERT_TRUE(ReadFile(file, bytes, sizeof bytes, &count, nullptr));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), 131u);
  EXPECT_EQ(GetFileType(file), DWORD{FILE_TYPE_DISK});
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(scratch.Read("data.txt"), "hello");

  const HANDLE reader = Open("data.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_TRUE(CloseHandle(reader));
}

TEST_F(FilePlatformTest, ShareModesRefuseConflictingOpeners) {
  scratch.Write("f.txt", "kept");
  HANDLE reader = Open("f.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFailure("f.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), DWORD{0});
  EXPECT_EQ(OpenFailure("f.txt", GENERIC_WRITE, kShareAll, CREATE_ALWAYS),
            DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(scratch.Read("f.txt"), "kept");
  EXPECT_TRUE(CloseHandle(reader));

  HANDLE writer = Open("f.txt", GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFailure("f.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(OpenFailure("f.txt", GENERIC_READ, kShareAll, OPEN_EXISTING), DWORD{0});
  EXPECT_TRUE(CloseHandle(writer));

  HANDLE exclusive = Open("f.txt", kReadWrite, 0, OPEN_EXISTING);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFailure("f.txt", GENERIC_READ, kShareAll, OPEN_EXISTING),
            DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_TRUE(CloseHandle(exclusive));
  EXPECT_EQ(OpenFailure("f.txt", kReadWrite, 0, OPEN_EXISTING), DWORD{0});
}

TEST_F(FilePlatformTest, HandlesAreCheckedAndDevicesTyped) {
#ifdef _WIN32
  const char* device = "NUL";
#else
  const char* device = "/dev/null";
#endif
  const HANDLE file =
      CreateFileA(device, GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(file), DWORD{FILE_TYPE_CHAR});
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

TEST_F(FilePlatformTest, MoveReplacesOnlyWhenAskedAndDeleteRemoves) {
  scratch.Write("new.dat", "new");
  scratch.Write("old.dat", "old");
  const std::string from = scratch.Path("new.dat"), to = scratch.Path("old.dat");
  EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), 0));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(scratch.Read("old.dat"), "old");
  EXPECT_TRUE(
      MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(scratch.Read("old.dat"), "new");
  EXPECT_FALSE(scratch.Exists("new.dat"));
  EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});

  EXPECT_TRUE(DeleteFileA(to.c_str()));
  EXPECT_FALSE(scratch.Exists("old.dat"));
  EXPECT_FALSE(DeleteFileA(to.c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_FALSE(DeleteFileA(scratch.Path("nofolder\\x").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
}

#ifndef _WIN32
// Swaps entries of the system call table for one test.
class SyscallSwap {
 public:
  ~SyscallSwap() { unixSyscalls = saved; }

 private:
  UnixSyscalls saved = unixSyscalls;
};

int failingErrno = 0;
ssize_t FailingWrite(int, const void*, size_t) { return errno = failingErrno, -1; }
int writesBeforeFull = 0;
// Writes half of each request; the disk is full after writesBeforeFull writes.
ssize_t ShortWrite(int fd, const void* buffer, size_t count) {
  if (writesBeforeFull-- <= 0) return errno = ENOSPC, -1;
  return ::write(fd, buffer, (count + 1) / 2);
}
ssize_t FailingRead(int, void*, size_t) { return errno = EIO, -1; }
int FailingClose(int fd) { return ::close(fd), errno = EIO, -1; }
#endif

TEST_F(FilePlatformTest, NamesBelowADriveIgnoreLetterCase) {
#ifdef _WIN32
  GTEST_SKIP() << "needs the Linux stand-ins";
#else
  scratch.Write("KeyVigil.dat", "a");
  scratch.Write("\304nderung", "b");  // Windows-1252 capital A umlaut
  for (const char* name : {"keyvigil.dat", "..\\SCRATCH\\KEYVIGIL.DAT", "\344NDERUNG"}) {
    EXPECT_EQ(OpenFailure(name, GENERIC_READ, kShareAll, OPEN_EXISTING), DWORD{0}) << name;
  }
  EXPECT_EQ(OpenFailure("NewFile.Dat", GENERIC_WRITE, 0, CREATE_NEW), DWORD{0});
  EXPECT_TRUE(scratch.Exists("NewFile.Dat"));
  const std::string from = scratch.Path("NewFile.Dat"), to = scratch.Path("KEYVIGIL.DAT");
  EXPECT_TRUE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(scratch.Read("KeyVigil.dat"), "");
  EXPECT_FALSE(scratch.Exists("KEYVIGIL.DAT"));

  EXPECT_EQ(
      OpenFailure("..\\..\\..\\scratch\\KeyVigil.dat", GENERIC_READ, kShareAll, OPEN_EXISTING),
      DWORD{0});
  EXPECT_EQ(OpenFailure("a?b", GENERIC_WRITE, 0, CREATE_ALWAYS), DWORD{ERROR_INVALID_NAME});
  EXPECT_EQ(OpenFailure(std::string(300, 'n'), GENERIC_WRITE, 0, CREATE_ALWAYS),
            DWORD{ERROR_FILENAME_EXCED_RANGE});
  EXPECT_EQ(CreateFileA("Q:\\x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
  const std::string hostPath = scratch.HostPath("KeyVigil.dat").string();
  const HANDLE host =
      CreateFileA(hostPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(host, INVALID_HANDLE_VALUE);
  CloseHandle(host);
#endif
}

TEST_F(FilePlatformTest, SystemCallFailuresBecomeWindowsCodes) {
#ifdef _WIN32
  GTEST_SKIP() << "needs the Linux stand-ins";
#else
  SyscallSwap swap;
  HANDLE file = Open("f.txt", kReadWrite, 0, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD count = 99;
  unixSyscalls.write = FailingWrite;
  for (int error : {ENOSPC, EDQUOT}) {
    failingErrno = error;
    EXPECT_FALSE(WriteFile(file, "abc", 3, &count, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DISK_FULL});
  }
  unixSyscalls.write = ShortWrite;
  writesBeforeFull = 1;
  EXPECT_FALSE(WriteFile(file, "abcd", 4, &count, nullptr));
  EXPECT_EQ(count, 2u);
  unixSyscalls.read = FailingRead;
  EXPECT_FALSE(ReadFile(file, &count, 1, &count, nullptr));
  EXPECT_EQ(count, 0u);
  unixSyscalls.close = FailingClose;
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  EXPECT_EQ(scratch.Read("f.txt"), "ab");
#endif
}

TEST_F(FilePlatformTest, ShareModesHoldBetweenProcessesAndReadOnlyFilesRefuseWriters) {
#ifdef _WIN32
  GTEST_SKIP() << "needs the Linux stand-ins";
#else
  scratch.Write("f.txt", "x");
  int held[2], done[2];
  ASSERT_EQ(pipe(held), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  if (child == 0) {
    const bool opened = Open("f.txt", kReadWrite, 0, OPEN_EXISTING) != INVALID_HANDLE_VALUE;
    char byte = opened ? '1' : '0';
    (void)!write(held[1], &byte, 1);
    (void)!read(done[0], &byte, 1);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(held[0], &byte, 1), 1);
  EXPECT_EQ(byte, '1');
  EXPECT_EQ(OpenFailure("f.txt", GENERIC_READ, kShareAll, OPEN_EXISTING),
            DWORD{ERROR_SHARING_VIOLATION});
  (void)!write(done[1], &byte, 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(OpenFailure("f.txt", GENERIC_READ, kShareAll, OPEN_EXISTING), DWORD{0});
  for (int fd : {held[0], held[1], done[0], done[1]}) close(fd);

  chmod(scratch.HostPath("f.txt").c_str(), 0444);
  EXPECT_EQ(OpenFailure("f.txt", GENERIC_WRITE, kShareAll, OPEN_EXISTING),
            DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(OpenFailure("f.txt", GENERIC_READ, kShareAll, OPEN_EXISTING), DWORD{0});
  ASSERT_EQ(mkfifo(scratch.HostPath("fifo").c_str(), 0600), 0);
  const HANDLE fifo = Open("fifo", kReadWrite, kShareAll, OPEN_EXISTING);
  EXPECT_EQ(GetFileType(fifo), DWORD{FILE_TYPE_PIPE});
  CloseHandle(fifo);
#endif
}

}  // namespace
