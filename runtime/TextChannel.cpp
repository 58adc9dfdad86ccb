#include "TextChannel.h"

#include <algorithm>
#include <utility>

#include "Exceptions.h"
#include "MessageIds.h"
#include "Messages.h"

TTextChannel standardInput, standardOutput;

namespace {

constexpr uint8_t kEndMark = 0x1A;
constexpr uint8_t kCarriageReturn = 0x0D;
constexpr uint8_t kLineFeed = 0x0A;
constexpr uint8_t kLineEnd[] = {kCarriageReturn, kLineFeed};
constexpr size_t kPieceSize = 255;

constexpr int32_t kNeverBound = 102;
constexpr int32_t kNotOpen = 103;
constexpr int32_t kNotReading = 104;
constexpr int32_t kNotWriting = 105;
// The code that names an invalid file name in the message table; also left
// for a path that names no disk file.
constexpr int32_t kUnfitPath = 3;

thread_local int32_t pendingResult = 0;

void LeaveIfFailed(int32_t code) {
  if (code != 0) SetPendingResult(code);
}

int32_t DoNothing(TTextChannel&) { return 0; }

// Installed by BindPath for a path longer than pathName holds: cutting it
// would open another file than the one named.
int32_t RefuseUnfitPath(TTextChannel& channel) {
  channel.state = ChannelClosed;
  return kUnfitPath;
}

void Open(TTextChannel& channel, ChannelState target) {
  switch (channel.state) {
    case ChannelClosed:
      break;
    case ChannelReading:
    case ChannelWriting:
    case ChannelAppending:
      CloseChannel(channel);
      break;
    default:
      SetPendingResult(kNeverBound);
      return;
  }
  channel.state = target;
  LeaveIfFailed(channel.openHandler(channel));
}

int32_t LastCode() { return static_cast<int32_t>(GetLastError()); }

// Old DOS editors ended a text file with 0x1A; new lines must follow the
// text, not the mark, so the file is cut at the first one among its last
// 128 bytes. False with the platform's code in GetLastError.
bool LengthBeforeEndMark(HANDLE file, DWORD& length) {
  const DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE) return false;
  uint8_t tail[128];
  const DWORD start = size >= sizeof tail ? size - sizeof tail : 0;
  DWORD count = 0;
  if (SetFilePointer(file, static_cast<LONG>(start), nullptr, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER ||
      ReadFile(file, tail, sizeof tail, &count, nullptr) != TRUE) {
    return false;
  }
  length = start + static_cast<DWORD>(std::find(tail, tail + count, kEndMark) - tail);
  return true;
}

// Copies the first `length` bytes (fewer if the file shrank meanwhile);
// `ended` tells whether they end a line: in CR or CR LF, or are none. A lone
// LF belongs to the line.
bool CopyStart(HANDLE from, HANDLE to, DWORD length, bool& ended) {
  if (SetFilePointer(from, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  uint8_t chunk[16384];
  uint8_t last[2] = {};
  DWORD copied = 0;
  while (copied < length) {
    DWORD count = 0, written = 0;
    if (ReadFile(from, chunk, std::min<DWORD>(length - copied, sizeof chunk), &count, nullptr) !=
            TRUE ||
        WriteFile(to, chunk, count, &written, nullptr) != TRUE) {
      return false;
    }
    if (count == 0) break;
    last[0] = count >= 2 ? chunk[count - 2] : last[1];
    last[1] = chunk[count - 1];
    copied += count;
  }
  ended = copied == 0 || last[1] == kCarriageReturn ||
          (last[0] == kCarriageReturn && last[1] == kLineFeed);
  return true;
}

// Makes the new file beside the file the channel's path names, removing one
// left by a killed run, which may be anything by now; 0 or a result code.
int32_t MakeNewFile(TTextChannel& channel, HANDLE target) {
  const std::string finalPath = FinalPathOf(target, channel.pathName);
  if (finalPath.empty()) return kUnfitPath;
  std::copy(finalPath.c_str(), finalPath.c_str() + finalPath.size() + 1, channel.finalName);
  const std::string newPath = ReplacementPathFor(finalPath);
  channel.platformHandle = CreateReplacement(newPath);
  return channel.platformHandle == INVALID_HANDLE_VALUE ? LastCode() : 0;
}

int32_t ReplaceTarget(TTextChannel& channel);

// A line must reach the file whole or not at all, even when the process
// dies at any instruction: the old content, cut and ended as above, goes
// to a new file beside it, the line follows, and the close moves the new
// file over the old one.
int32_t PrepareForAppending(TTextChannel& channel) {
  const HANDLE target = channel.platformHandle;
  if (const int32_t code = MakeNewFile(channel, target)) {
    CloseHandle(target);
    channel.state = ChannelClosed;
    return code;
  }
  channel.state = ChannelWriting;
  channel.closeHandler = ReplaceTarget;
  DWORD length = 0;
  bool ended = true;
  if (!LengthBeforeEndMark(target, length) ||
      !CopyStart(target, channel.platformHandle, length, ended)) {
    channel.writeFailure = LastCode();
  }
  CloseHandle(target);
  if (channel.writeFailure != 0) return ReplaceTarget(channel);
  if (!ended) PutBytes(channel, kLineEnd, sizeof kLineEnd);
  return 0;
}

// Puts the new file in the old one's place, or gives it up whole after a
// failed write-out.
int32_t ReplaceTarget(TTextChannel& channel) {
  int32_t code = channel.writeFailure;
  if (code == 0 && !FlushFileBuffers(channel.platformHandle)) code = LastCode();
  const int32_t closed = ReleaseHandle(channel);
  if (code == 0) code = closed;
  const std::string newPath = ReplacementPathFor(channel.finalName);
  if (code == 0 && !PutReplacement(newPath, channel.finalName)) code = LastCode();
  if (code != 0) DeleteFileA(newPath.c_str());
  return code;
}

// Takes bytes up to a CR or an end mark, both left in place, and at most
// kPieceSize of them; returns how many.
size_t ReadPiece(TTextChannel& channel, char* piece) {
  size_t count = 0;
  while (count < kPieceSize) {
    if (channel.cursor >= channel.fill) {
      if (NextByte(channel) == kEndMark) break;
      --channel.cursor;
    }
    const uint8_t byte = channel.bufferRef[channel.cursor];
    if (byte == kCarriageReturn || byte == kEndMark) break;
    piece[count++] = static_cast<char>(byte);
    ++channel.cursor;
  }
  return count;
}

std::string MessageFor(int32_t code) {
  static const struct {
    int32_t code;
    MessageId message;
  } kMessages[] = {
      {2, SFileNotFound}, {3, SInvalidFilename}, {4, STooManyOpenFiles}, {5, SAccessDenied},
      {100, SEndOfFile},  {101, SDiskFull},      {106, SInvalidInput},
  };
  for (const auto& entry : kMessages) {
    if (entry.code == code) return LoadMessage(entry.message);
  }
  return FillTemplate(LoadMessage(SInOutError), {code});
}

}  // namespace

std::string FinalPathOf(HANDLE target, const std::string& path) {
  char resolved[MAX_PATH + 4];
  const DWORD length = GetFinalPathNameByHandleA(target, resolved, sizeof resolved,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length >= sizeof resolved) return {};
  std::string_view text(resolved, length);
  // Windows names a file on a drive \\?\X:\...; another form of that prefix
  // (a share), or no answer at all, leaves the path as it was given.
  constexpr std::string_view kLongPrefix = "\\\\?\\";
  if (text.starts_with(kLongPrefix) && text.size() > 5 && text[5] == ':') text.remove_prefix(4);
  if (text.empty() || text.starts_with(kLongPrefix)) text = path;
  if (text.size() >= MAX_PATH) return {};
  return std::string(text);
}

std::string ReplacementPathFor(std::string finalPath) {
  if (!finalPath.empty()) finalPath.back() = finalPath.back() == '$' ? '#' : '$';
  return finalPath;
}

HANDLE CreateReplacement(const std::string& newPath) {
  DeleteFileA(newPath.c_str());
  return CreateFileA(newPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool PutReplacement(const std::string& newPath, const std::string& finalPath) {
  return MoveFileExA(newPath.c_str(), finalPath.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void BindPath(TTextChannel& channel, std::string_view path) {
  channel.bufferRef = channel.storage;
  channel.platformHandle = nullptr;
  channel.state = ChannelClosed;
  channel.capacity = static_cast<int32_t>(sizeof channel.storage);
  channel.cursor = 0;
  channel.fill = 0;
  channel.openHandler = FileOpenHandler;
  channel.transferHandler = nullptr;
  channel.lineEndHandler = nullptr;
  channel.closeHandler = nullptr;
  path = path.substr(0, path.find('\0'));
  if (path.size() >= sizeof channel.pathName) {
    channel.pathName[0] = '\0';
    channel.openHandler = RefuseUnfitPath;
    return;
  }
  std::copy(path.begin(), path.end(), channel.pathName);
  channel.pathName[path.size()] = '\0';
}

void OpenForReading(TTextChannel& channel) { Open(channel, ChannelReading); }

void CreateForWriting(TTextChannel& channel) { Open(channel, ChannelWriting); }

void OpenForAppending(TTextChannel& channel) { Open(channel, ChannelAppending); }

int32_t FileOpenHandler(TTextChannel& channel) {
  channel.cursor = 0;
  channel.fill = 0;
  channel.writeFailure = 0;
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD creation = OPEN_EXISTING;
  channel.transferHandler = DrainBuffer;
  if (channel.state == ChannelReading) {
    access = GENERIC_READ;
    channel.transferHandler = FillBuffer;
  } else if (channel.state == ChannelWriting) {
    access = GENERIC_WRITE;
    creation = CREATE_ALWAYS;
  }
  channel.closeHandler = ReleaseHandle;
  channel.lineEndHandler = DoNothing;
  const HANDLE file = CreateFileA(channel.pathName, access, FILE_SHARE_READ, nullptr, creation,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    channel.state = ChannelClosed;
    return static_cast<int32_t>(GetLastError());
  }
  channel.platformHandle = file;
  // Before a byte is read or written: a device such as COM1 would wait for
  // ever on a read, NUL would swallow every accepted line.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    ReleaseHandle(channel);
    return kUnfitPath;
  }
  return channel.state == ChannelAppending ? PrepareForAppending(channel) : 0;
}

int32_t FillBuffer(TTextChannel& channel) {
  channel.cursor = 0;
  channel.fill = 0;
  DWORD count = 0;
  if (!ReadFile(channel.platformHandle, channel.bufferRef, static_cast<DWORD>(channel.capacity),
                &count, nullptr)) {
    const DWORD code = GetLastError();
    // The writer of a pipe has closed it: the end of the data.
    return code == ERROR_BROKEN_PIPE ? 0 : static_cast<int32_t>(code);
  }
  channel.fill = static_cast<int32_t>(count);
  return 0;
}

int32_t DrainBuffer(TTextChannel& channel) {
  const int32_t count = channel.cursor;
  if (count <= 0) return 0;
  channel.cursor = 0;
  DWORD written = 0;
  if (WriteFile(channel.platformHandle, channel.bufferRef, static_cast<DWORD>(count), &written,
                nullptr)) {
    return 0;
  }
  const int32_t code = LastCode();
  if (channel.writeFailure == 0) channel.writeFailure = code;
  return code;
}

int32_t ReleaseHandle(TTextChannel& channel) {
  channel.state = ChannelClosed;
  return CloseHandle(channel.platformHandle) == TRUE ? 0 : static_cast<int32_t>(GetLastError());
}

uint8_t NextByte(TTextChannel& channel) {
  if (channel.state != ChannelReading) {
    SetPendingResult(kNotReading);
    return kEndMark;
  }
  if (channel.cursor >= channel.fill) {
    if (const int32_t code = channel.transferHandler(channel)) {
      SetPendingResult(code);
      return kEndMark;
    }
    if (channel.cursor >= channel.fill) {
      channel.bufferRef[channel.cursor] = kEndMark;
      ++channel.fill;
      return kEndMark;
    }
  }
  const uint8_t byte = channel.bufferRef[channel.cursor];
  if (byte != kEndMark) ++channel.cursor;
  return byte;
}

bool AtEndOfData(TTextChannel& channel) {
  if (channel.state == ChannelReading && channel.cursor < channel.fill) {
    return channel.bufferRef[channel.cursor] == kEndMark;
  }
  if (NextByte(channel) == kEndMark) return true;
  --channel.cursor;
  return false;
}

std::string ReadLineText(TTextChannel& channel) {
  std::string line;
  if (channel.state != ChannelReading) {
    SetPendingResult(kNotReading);
    return line;
  }
  char piece[kPieceSize];
  size_t count;
  do {
    count = ReadPiece(channel, piece);
    line.append(piece, count);
  } while (count == kPieceSize);
  return line;
}

void SkipToNextLine(TTextChannel& channel) {
  uint8_t byte;
  do {
    byte = NextByte(channel);
    if (byte == kEndMark) return;
  } while (byte != kCarriageReturn);
  byte = NextByte(channel);
  if (byte != kLineFeed && byte != kEndMark) --channel.cursor;
}

void PutBytes(TTextChannel& channel, const uint8_t* source, int32_t count) {
  if (channel.state != ChannelWriting) {
    SetPendingResult(kNotWriting);
    return;
  }
  while (channel.capacity - channel.cursor <= count) {
    const int32_t part = channel.capacity - channel.cursor;
    std::copy_n(source, part, channel.bufferRef + channel.cursor);
    source += part;
    count -= part;
    channel.cursor = channel.capacity;
    if (const int32_t code = channel.transferHandler(channel)) {
      SetPendingResult(code);
      return;
    }
  }
  std::copy_n(source, count, channel.bufferRef + channel.cursor);
  channel.cursor += count;
}

void WriteText(TTextChannel& channel, std::string_view text) {
  PutBytes(channel, reinterpret_cast<const uint8_t*>(text.data()),
           static_cast<int32_t>(text.size()));
}

void WriteLineEnd(TTextChannel& channel) {
  PutBytes(channel, kLineEnd, sizeof kLineEnd);
  if (channel.state == ChannelWriting) {
    LeaveIfFailed(channel.lineEndHandler(channel));
  } else if (channel.state != ChannelReading) {
    SetPendingResult(kNotOpen);
  }
}

void CloseChannel(TTextChannel& channel) {
  switch (channel.state) {
    case ChannelReading:
      LeaveIfFailed(channel.closeHandler(channel));
      break;
    case ChannelWriting:
    case ChannelAppending: {
      // The handle goes also after a failed write-out, which an append's
      // close then gives up whole.
      const int32_t drained = channel.transferHandler(channel);
      const int32_t closed = channel.closeHandler(channel);
      LeaveIfFailed(drained != 0 ? drained : closed);
      break;
    }
    default:
      SetPendingResult(kNotOpen);
  }
}

void SetPendingResult(int32_t code) { pendingResult = code; }

int32_t TakePendingResult() { return std::exchange(pendingResult, 0); }

// Not inlined: the fault address is this call's return point in the caller.
[[gnu::noinline]] void CheckPendingResult() {
  if (pendingResult == 0) return;
  const int32_t code = TakePendingResult();
  auto* error = new EInOutError(MessageFor(code));
  error->ioCode = code;
  RaiseAt(error, KV_CALLER_ADDRESS());
}
