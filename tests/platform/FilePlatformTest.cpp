#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/ScratchMachine.h"
#include "Win32.h"
#ifndef _WIN32
#include <sys/stat.h>
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
#ifndef _WIN32
  scratch.Write("\304nderung", "b");  // Windows-1252 capital A umlaut
  scratch.Write("ro.txt", "x");
  chmod(scratch.HostPath("ro.txt").c_str(), 0444);  // Wine run as root ignores the mark
#endif
  const struct {
    std::string name;
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
#ifndef _WIN32
      // Names below a drive ignore letter case, as on Windows.
      {"KEPT.TXT", GENERIC_READ, kShareAll, OPEN_EXISTING, 0},
      {"..\\SCRATCH\\Kept.txt", GENERIC_READ, kShareAll, OPEN_EXISTING, 0},
      {"..\\..\\..\\scratch\\kept.txt", GENERIC_READ, kShareAll, OPEN_EXISTING, 0},
      {"\344NDERUNG", GENERIC_READ, kShareAll, OPEN_EXISTING, 0},
      {std::string(300, 'n'), GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_FILENAME_EXCED_RANGE},
      {"ro.txt", GENERIC_WRITE, kShareAll, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"ro.txt", GENERIC_READ, kShareAll, OPEN_EXISTING, 0},
#endif
  };
  for (const auto& test : cases) {
    EXPECT_EQ(OpenResult(test.name, test.access, test.share, test.creation), test.code)
        << test.name << " " << test.creation;
  }
  EXPECT_EQ(scratch.Read("kept.txt") + "|" + scratch.Read("old.txt"), "content|");
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
  EXPECT_EQ(MoveResult("OLD.DAT", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), 0u);
  EXPECT_EQ(scratch.Read("old.dat"), "new") << "the name keeps its case";
  EXPECT_EQ(MoveResult("old.dat"), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(DeleteResult("old.dat"), 0u);
#ifndef _WIN32
  scratch.Write("from", "new");
  scratch.Write("ro.txt", "x");
  chmod(scratch.HostPath("ro.txt").c_str(), 0444);
  EXPECT_EQ(MoveResult("ro.txt"), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(DeleteResult("ro.txt"), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(scratch.Read("ro.txt"), "x");
#endif
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
    CloseHandle(device);
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

}  // namespace
