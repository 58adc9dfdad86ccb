#include "Streams.h"

#include "Exceptions.h"
#include "MessageIds.h"
#include "TextChannel.h"

void TStream::WriteExactly(const void* buffer, int32_t count) {
  if (count == 0) return;
  if (WriteAtMost(buffer, count) != count) Raise(new EWriteError(SWriteError, {}));
}

void THandleStream::SetSize(int64_t size) {
  Seek(size, SeekOrigin::Beginning);
  if (!SetEndOfFile(fileHandle)) Raise(new EWriteError(SWriteError, {}));
}

int32_t THandleStream::ReadAtMost(void* buffer, int32_t count) {
  DWORD read = 0;
  if (!ReadFile(fileHandle, buffer, static_cast<DWORD>(count), &read, nullptr)) return 0;
  return static_cast<int32_t>(read);
}

int32_t THandleStream::WriteAtMost(const void* buffer, int32_t count) {
  DWORD written = 0;
  if (!WriteFile(fileHandle, buffer, static_cast<DWORD>(count), &written, nullptr)) return 0;
  return static_cast<int32_t>(written);
}

int64_t THandleStream::Seek(int64_t offset, SeekOrigin origin) {
  LONG high = static_cast<LONG>(offset >> 32);
  const DWORD method = origin == SeekOrigin::Beginning ? FILE_BEGIN
                       : origin == SeekOrigin::Current ? FILE_CURRENT
                                                       : FILE_END;
  const DWORD low = SetFilePointer(fileHandle, static_cast<LONG>(offset), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  return (static_cast<int64_t>(high) << 32) | low;
}

namespace {

// Opens the target as creating it would, short of emptying it: a read-only
// file, or one that another handle holds, must refuse the rewrite as it
// refuses the create, not be renamed over. Gives the path of the file the
// target is (a link's target), which the new file replaces.
std::string CheckTarget(const std::string& path) {
  const HANDLE target = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (target == INVALID_HANDLE_VALUE) Raise(new EFCreateError(SFCreateError, {path}));
  const bool onDisk = GetFileType(target) == FILE_TYPE_DISK;
  const std::string finalPath = onDisk ? FinalPathOf(target, path) : "";
  CloseHandle(target);
  if (finalPath.empty()) Raise(new EFCreateError(SFCreateError, {path}));
  return finalPath;
}

}  // namespace

TFileStream::TFileStream(const std::string& path, uint16_t mode)
    : THandleStream(INVALID_HANDLE_VALUE) {
  if (mode != StreamModeCreate) Raise(new EFCreateError(SFCreateError, {path}));
  targetPath = CheckTarget(path);
  newPath = ReplacementPathFor(targetPath);
  fileHandle = CreateReplacement(newPath);
  if (fileHandle == INVALID_HANDLE_VALUE) Raise(new EFCreateError(SFCreateError, {newPath}));
}

TFileStream::~TFileStream() {
  if (fileHandle == INVALID_HANDLE_VALUE) return;
  CloseHandleOnce();
  DeleteFileA(newPath.c_str());
}

void TFileStream::Commit() {
  const bool flushed = FlushFileBuffers(fileHandle);
  CloseHandleOnce();
  if (!flushed || !PutReplacement(newPath, targetPath)) {
    DeleteFileA(newPath.c_str());
    Raise(new EWriteError(SWriteError, {}));
  }
}

void TFileStream::CloseHandleOnce() {
  if (fileHandle == INVALID_HANDLE_VALUE) return;
  CloseHandle(fileHandle);
  fileHandle = INVALID_HANDLE_VALUE;
}
