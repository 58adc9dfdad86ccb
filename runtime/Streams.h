#pragma once

#include <cstdint>
#include <string>

#include "Win32.h"

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  virtual void SetSize(int64_t size) = 0;
  virtual int32_t ReadAtMost(void* buffer, int32_t count) = 0;
  virtual int32_t WriteAtMost(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

  // Writes the whole buffer or raises EWriteError.
  void WriteExactly(const void* buffer, int32_t count);
};

class THandleStream : public TStream {
 public:
  explicit THandleStream(HANDLE handle) : fileHandle(handle) {}
  void SetSize(int64_t size) override;
  int32_t ReadAtMost(void* buffer, int32_t count) override;
  int32_t WriteAtMost(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;

 protected:
  HANDLE fileHandle;
};

// The one mode KeyVigil opens a file stream in: the file is made anew.
constexpr uint16_t StreamModeCreate = 0xFFFF;

// A file made anew. So that a failure part-way can never leave the target
// empty or half written, the stream writes a new file beside it, held without
// sharing, and only Commit puts it in the target's place; a stream destroyed
// without Commit removes the new file and leaves the target as it was. The
// target must be a disk file that could be created: writable, and held by
// no other handle.
class TFileStream : public THandleStream {
 public:
  TFileStream(const std::string& path, uint16_t mode);
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  ~TFileStream() override;

  // Flushes the new file to the disk and replaces the target with it; raises
  // EWriteError when either fails.
  void Commit();

 private:
  void CloseHandleOnce();

  std::string targetPath;  // the file the target path names, through a link
  std::string newPath;
};
