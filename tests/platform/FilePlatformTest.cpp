#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "../support/ScratchMachine.h"
#include "Win32.h"

namespace {

namespace fs = std::filesystem;

std::string Error(DWORD code) { return "error " + std::to_string(code); }

// What an open of the path gives: the kind of file, or the error.
std::string Opened(const std::string& path, DWORD access, DWORD creation) {
  const HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  creation, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Error(GetLastError());
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  return type == FILE_TYPE_DISK ? "file" : type == FILE_TYPE_CHAR ? "device" : "?";
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
      {at("kept.txt"), GENERIC_WRITE, OPEN_ALWAYS, "file"},
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

// A handle that does not share deletion, a backup's say, keeps its file from
// being deleted or replaced (Wine, as Windows, answers 5, not 32, to the
// replace); once it is closed, the replace takes place. (Opens against a
// held file: ListSave and the whole runs.)
TEST_F(FilePlatformTest, AHeldFileIsNeitherDeletedNorReplaced) {
  const std::string file = scratch.Path("f.txt"), from = scratch.Path("from");
  const auto replace = [&] {
    return MoveFileExA(from.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError();
  };
  scratch.Write("f.txt", "kept");
  scratch.Write("from", "new");
  const HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(replace(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_TRUE(CloseHandle(held));
  EXPECT_EQ(replace(), 0u);
  EXPECT_EQ(scratch.Read("f.txt"), "new");
}

}  // namespace
