// The line-oriented text file channel: a plain record bound to a path that
// reads and writes through the 128-byte buffer inside it. Operations never
// throw; a failure leaves a pending result code for the calling thread, which
// CheckPendingResult turns into an EInOutError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Win32.h"

enum ChannelState : uint32_t {
  ChannelClosed = 0xD7B0,
  ChannelReading = 0xD7B1,
  ChannelWriting = 0xD7B2,
  ChannelAppending = 0xD7B3,
};

struct TTextChannel;
// Returns 0 for success, else a result code.
typedef int32_t (*TChannelHandler)(TTextChannel& channel);

struct TTextChannel {
  HANDLE platformHandle;
  uint32_t state;
  int32_t capacity;
  int32_t cursor;
  int32_t fill;
  uint8_t* bufferRef;
  TChannelHandler openHandler;
  TChannelHandler transferHandler;
  TChannelHandler lineEndHandler;
  TChannelHandler closeHandler;
  char pathName[260];
  uint8_t storage[128];
  // Writing: the file's length when it was opened (after the end-mark cut of
  // an append); a failed write cuts the file back to it.
  DWORD writeStart;
};

// The runtime's standard channels; bound to the empty path at start-up.
extern TTextChannel standardInput, standardOutput;

// A path that does not fit into pathName (more than 259 bytes before its
// first zero byte) is not cut: every open of the channel then leaves 3, as
// does an open of anything but a disk file.
void BindPath(TTextChannel& channel, std::string_view path);
void OpenForReading(TTextChannel& channel);
void CreateForWriting(TTextChannel& channel);
void OpenForAppending(TTextChannel& channel);
bool AtEndOfData(TTextChannel& channel);
std::string ReadLineText(TTextChannel& channel);
void SkipToNextLine(TTextChannel& channel);
void WriteText(TTextChannel& channel, std::string_view text);
void WriteLineEnd(TTextChannel& channel);
void CloseChannel(TTextChannel& channel);

// The pieces the operations are built from.
uint8_t NextByte(TTextChannel& channel);
void PutBytes(TTextChannel& channel, const uint8_t* source, int32_t count);
int32_t FileOpenHandler(TTextChannel& channel);
int32_t FillBuffer(TTextChannel& channel);
int32_t DrainBuffer(TTextChannel& channel);
int32_t ReleaseHandle(TTextChannel& channel);

// The calling thread's pending result code.
void SetPendingResult(int32_t code);
int32_t TakePendingResult();
// Raises EInOutError (ioCode = the code, the code reset to 0) when a code is
// pending; its fault address is the return point of this call.
void CheckPendingResult();
