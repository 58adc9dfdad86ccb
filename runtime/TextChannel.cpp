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
      // A failed write-out keeps the file open with an empty buffer; the
      // second close releases it rather than losing the handle to the open.
      if (channel.state != ChannelClosed) CloseChannel(channel);
      break;
    default:
      SetPendingResult(kNeverBound);
      return;
  }
  channel.state = target;
  LeaveIfFailed(channel.openHandler(channel));
}

// Old DOS editors ended a text file with 0x1A; new lines must follow the
// text, not the mark, so the file is cut at the first one among its last
// 128 bytes. Sets writeStart to the length kept. These steps return false
// with the platform's code in GetLastError.
bool CutAtEndMark(TTextChannel& channel) {
  const HANDLE file = channel.platformHandle;
  const DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE) return false;
  const DWORD window = static_cast<DWORD>(sizeof channel.storage);
  const DWORD start = size >= window ? size - window : 0;
  if (SetFilePointer(file, static_cast<LONG>(start), nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    return false;
  }
  DWORD count = 0;
  if (ReadFile(file, channel.storage, window, &count, nullptr) != TRUE) return false;
  const uint8_t* end = channel.storage + count;
  const uint8_t* mark = std::find(static_cast<const uint8_t*>(channel.storage), end, kEndMark);
  channel.writeStart = start + static_cast<DWORD>(mark - channel.storage);
  if (mark == end) return true;
  const LONG back = static_cast<LONG>(mark - end);
  return SetFilePointer(file, back, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
         SetEndOfFile(file) == TRUE;
}

// A last line without its line end (as editors save a file) would take the
// appended text into it. A lone LF belongs to the line.
bool EndLastLine(TTextChannel& channel) {
  const DWORD length = std::min<DWORD>(channel.writeStart, 2);
  if (length == 0) return true;
  uint8_t tail[2] = {};
  DWORD count = 0;
  if (SetFilePointer(channel.platformHandle, -static_cast<LONG>(length), nullptr, FILE_END) ==
          INVALID_SET_FILE_POINTER ||
      ReadFile(channel.platformHandle, tail, length, &count, nullptr) != TRUE) {
    return false;
  }
  const bool ended = tail[length - 1] == kCarriageReturn ||
                     (length == 2 && tail[0] == kCarriageReturn && tail[1] == kLineFeed);
  if (!ended) PutBytes(channel, kLineEnd, sizeof kLineEnd);
  return true;
}

int32_t PrepareForAppending(TTextChannel& channel) {
  channel.state = ChannelWriting;
  if (CutAtEndMark(channel) && EndLastLine(channel)) return 0;
  const int32_t code = static_cast<int32_t>(GetLastError());
  ReleaseHandle(channel);
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
  channel.writeStart = 0;
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
  const int32_t code = static_cast<int32_t>(GetLastError());
  // The first part of a line would load as an accepted entry of its own: all
  // that was written since the open is given up.
  SetFilePointer(channel.platformHandle, static_cast<LONG>(channel.writeStart), nullptr,
                 FILE_BEGIN);
  SetEndOfFile(channel.platformHandle);
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
    case ChannelAppending:
      if (const int32_t code = channel.transferHandler(channel)) {
        SetPendingResult(code);
        break;
      }
      LeaveIfFailed(channel.closeHandler(channel));
      break;
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
