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
  // Appending: the file that the new content replaces at the close.
  char finalName[260];
  // Writing: the first failed write-out's code since the open; an append
  // that had one is given up whole at the close.
  int32_t writeFailure;
};

// The path of the file that `target`, opened from `path`, is: a link's
// target rather than the link, so that a file written beside it can be
// moved over it. Empty when that path does not fit into MAX_PATH.
std::string FinalPathOf(HANDLE target, const std::string& path);
// Where a file is written anew before it replaces the file at finalPath:
// the path with its last character made `$` (`#` for one that ends in `$`),
// a name that no editor or tool takes for its own files and never longer
// than the file's own.
std::string ReplacementPathFor(std::string finalPath);
// Creates the new file at that path, removing one a killed run left there,
// which may be anything by now (a link to another file included): nothing
// already there is written. INVALID_HANDLE_VALUE with the code in
// GetLastError when it cannot be made.
HANDLE CreateReplacement(const std::string& newPath);
// Moves the new file over the final one, written through to the disk.
bool PutReplacement(const std::string& newPath, const std::string& finalPath);

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
