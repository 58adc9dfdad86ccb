#include "Template.h"

#include <cctype>
#include <cstring>

#include "Exceptions.h"
#include "Messages.h"

namespace {

constexpr size_t kMaxDirectiveBytes = 31;

// Upper-case hexadecimal digits of value into digits (at least 16 bytes),
// padded with zeros to minimumDigits; returns the count.
size_t HexDigits(uint64_t value, size_t minimumDigits, char* digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  char reversed[16];
  size_t count = 0;
  do {
    reversed[count++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (count < minimumDigits) reversed[count++] = '0';
  for (size_t i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  return count;
}

// Where the filler writes: a growing string, or a fixed buffer that keeps
// what fits, so that the report path can fill without allocating.
struct StringSink {
  std::string text;
  void Append(const char* bytes, size_t count) { text.append(bytes, count); }
};

struct BufferSink {
  char* buffer;
  size_t capacity;  // without the terminating zero
  size_t length = 0;
  void Append(const char* bytes, size_t count) {
    const size_t fitting = count < capacity - length ? count : capacity - length;
    memcpy(buffer + length, bytes, fitting);
    length += fitting;
  }
};

template <typename Sink>
bool FillDirective(char letter, const TemplateArgument& argument, Sink& out) {
  using Kind = TemplateArgument::Kind;
  char digits[24];
  switch (std::tolower(static_cast<unsigned char>(letter))) {
    case 's':
      if (argument.kind != Kind::Text) return false;
      if (argument.text) out.Append(argument.text, strlen(argument.text));
      return true;
    case 'd': {
      if (argument.kind != Kind::Integer) return false;
      const int64_t value = argument.integer;
      uint64_t magnitude = value < 0 ? -value : value;
      size_t count = 0;
      do {
        digits[sizeof(digits) - 1 - count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
      } while (magnitude != 0);
      if (value < 0) digits[sizeof(digits) - 1 - count++] = '-';
      out.Append(digits + sizeof(digits) - count, count);
      return true;
    }
    case 'x':
      if (argument.kind != Kind::Integer) return false;
      out.Append(digits, HexDigits(static_cast<uint32_t>(argument.integer), 1, digits));
      return true;
    case 'p':
      if (argument.kind != Kind::Address) return false;
      out.Append(digits, HexDigits(argument.address, 8, digits));
      return true;
    default:
      return false;
  }
}

// Why the filler stopped: the message of the EConvertError and the directive
// it names; no message when the template was filled.
struct Refusal {
  uint16_t messageId = 0;
  std::string_view directive;
};

template <typename Sink>
Refusal Fill(Sink& out, std::string_view templ, std::initializer_list<TemplateArgument> args) {
  const TemplateArgument* next = args.begin();
  for (size_t i = 0; i < templ.size(); ++i) {
    const size_t plain = templ.find('%', i);
    if (plain != i) {
      const size_t end = plain == std::string_view::npos ? templ.size() : plain;
      out.Append(templ.data() + i, end - i);
      i = end - 1;
      continue;
    }
    if (i + 1 < templ.size() && templ[i + 1] == '%') {
      out.Append("%", 1);
      ++i;
      continue;
    }
    const std::string_view directive = templ.substr(i, 2);
    if (directive.size() < 2 || !std::isalpha(static_cast<unsigned char>(directive[1]))) {
      return {SInvalidFormat, directive};
    }
    if (next == args.end()) return {SArgumentMissing, directive};
    if (!FillDirective(directive[1], *next++, out)) return {SInvalidFormat, directive};
    ++i;
  }
  return {};
}

// The message of a refusal is a template of the string table too; one that a
// language file spoilt is shown unfilled rather than refused again.
std::string FilledOrAsIs(std::string_view templ, std::initializer_list<TemplateArgument> args) {
  StringSink out;
  if (Fill(out, templ, args).messageId) return std::string(templ);
  return std::move(out.text);
}

}  // namespace

std::string FillTemplate(std::string_view templ, std::initializer_list<TemplateArgument> args) {
  StringSink out;
  const Refusal refusal = Fill(out, templ, args);
  if (refusal.messageId) {
    const std::string directive(refusal.directive.substr(0, kMaxDirectiveBytes));
    Raise(new EConvertError(FilledOrAsIs(LoadMessage(refusal.messageId), {directive})));
  }
  return std::move(out.text);
}

size_t FillTemplateInto(char* buffer, size_t size, std::string_view templ,
                        std::initializer_list<TemplateArgument> args) {
  BufferSink out{buffer, size - 1};
  if (Fill(out, templ, args).messageId) {
    out.length = 0;
    out.Append(templ.data(), templ.size());
  }
  buffer[out.length] = 0;
  return out.length;
}
