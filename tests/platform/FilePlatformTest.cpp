#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "../support/ScratchMachine.h"
#include "Win32.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::string Error(DWORD code) { return "error " + std::to_string(code); }
DWORD CodeOf(BOOL done) { return done ? ERROR_SUCCESS : GetLastError(); }

// What an open of the path gives: the kind of file and whether it was there
// (183 on success), or the error.
std::string Opened(const std::string& path, DWORD access, DWORD creation, DWORD share = kShareAll) {
  const HANDLE file = CreateFileA(path.c_str(), access, share, nullptr, creation, 0, nullptr);
  const DWORD code = GetLastError();
  if (file == INVALID_HANDLE_VALUE) return Error(code);
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  const char* kind = type == FILE_TYPE_DISK ? "file" : type == FILE_TYPE_CHAR ? "device" : "?";
  return kind + std::string(code == ERROR_ALREADY_EXISTS ? " that was there" : "");
}

struct FilePlatformTest : testing::Test {
  ScratchMachine scratch;
};

// Device names open the device in any folder, on any drive, in any case and
// whatever follows a dot or a colon; a longer name is a file.
TEST_F(FilePlatformTest, OpensCreateEmptyAndRefuseAsWindowsDoes) {
  scratch.Write("kept.txt", "content");
  fs::create_directory(scratch.HostPath("folder"));
#ifndef _WIN32
  scratch.Write("\304nderung", "b");  // Windows-1252 capital A umlaut
#endif
  const auto at = [&](const std::string& name) { return scratch.Path(name); };
  const std::tuple<std::string, DWORD, DWORD, std::string> cases[] = {
      {at("folder"), GENERIC_READ, OPEN_EXISTING, Error(ERROR_ACCESS_DENIED)},
      {at("folder"), GENERIC_WRITE, CREATE_ALWAYS, Error(ERROR_ACCESS_DENIED)},
      {at("a?b"), GENERIC_WRITE, CREATE_ALWAYS, Error(ERROR_INVALID_NAME)},
      {at("new.txt"), GENERIC_WRITE, OPEN_ALWAYS, "file"},
      {at("kept.txt"), GENERIC_WRITE, OPEN_ALWAYS, "file that was there"},
#ifndef _WIN32
      // Names below a drive ignore letter case, as on Windows, and ".."
      // never leads above the drive.
      {at("KEPT.TXT"), GENERIC_READ, OPEN_EXISTING, "file"},
      {at("..\\SCRATCH\\Kept.txt"), GENERIC_READ, OPEN_EXISTING, "file"},
      {at("..\\..\\..\\scratch\\kept.txt"), GENERIC_READ, OPEN_EXISTING, "file"},
      {at("\344NDERUNG"), GENERIC_READ, OPEN_EXISTING, "file"},
      {at(std::string(300, 'n')), GENERIC_WRITE, CREATE_ALWAYS, Error(ERROR_FILENAME_EXCED_RANGE)},
#endif
  };
  for (const auto& [path, access, creation, opened] : cases)
    EXPECT_EQ(Opened(path, access, creation), opened) << path << " " << creation;
  EXPECT_EQ(scratch.Read("kept.txt"), "content");
#ifndef _WIN32
  // A new file is made as the umask allows, never as a program.
  EXPECT_EQ(fs::status(scratch.HostPath("new.txt")).permissions() & fs::perms(0111), fs::perms{});
  for (const char* device : {"C:\\no folder\\COM1", "lpt9", "PRN .x", "con:", "nul.txt"})
    EXPECT_EQ(Opened(device, GENERIC_WRITE, OPEN_EXISTING), "device") << device;
#endif
  for (const char* name : {"NUL2", "COM10", "CONSOLE", "auxiliary.dat"})
    EXPECT_EQ(Opened(at(name), GENERIC_WRITE, CREATE_NEW), "file") << name;
}

// A second opener, a delete and a replace against a file one handle holds;
// once it is closed, the replace takes place.
TEST_F(FilePlatformTest, ShareModesGuardHeldFilesFromOpensDeletesAndReplaces) {
  const std::string file = scratch.Path("f.txt"), from = scratch.Path("from");
  const auto move = [&](const std::string& to) {
    return CodeOf(
        MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  };
  // The holder's access and share mode, the other opener's, and its result.
  // ListSave's tests are refused by a holder that shares nothing, the
  // watch-run tests by one that writes.
  const std::tuple<DWORD, DWORD, DWORD, DWORD, DWORD> cases[] = {
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, 0},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll, ERROR_SHARING_VIOLATION},
      {GENERIC_WRITE, kShareAll, GENERIC_READ, kShareAll, 0},
  };
  scratch.Write("from", "new");
  for (const auto& [access, share, otherAccess, otherShare, code] : cases) {
    SCOPED_TRACE(testing::Message() << access << share << otherAccess);
    scratch.Write("f.txt", "kept");
    const HANDLE held =
        CreateFileA(file.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD creation = otherAccess == GENERIC_WRITE ? TRUNCATE_EXISTING : OPEN_EXISTING;
    EXPECT_EQ(Opened(file, otherAccess, creation, otherShare), code ? Error(code) : "file");
    EXPECT_EQ(CodeOf(DeleteFileA(file.c_str())), DWORD{ERROR_SHARING_VIOLATION});
    // Wine, as Windows, refuses to replace a held file with 5, not 32.
    EXPECT_EQ(move(file), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_TRUE(CloseHandle(held));
    EXPECT_EQ(scratch.Read("f.txt"), "kept");
  }
  EXPECT_EQ(move(scratch.Path("F.TXT")), 0u);
  EXPECT_EQ(scratch.Read("f.txt"), "new") << "the name keeps its case";
  EXPECT_EQ(move(file), DWORD{ERROR_FILE_NOT_FOUND});
}

}  // namespace
