#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// One argument of FillTemplate: a text, a 32-bit integer or an address.
struct TemplateArgument {
  enum class Kind { Text, Integer, Address };
  Kind kind;
  const char* text = nullptr;  // zero-terminated; the filler stops at its first zero byte
  int32_t integer = 0;
  uintptr_t address = 0;

  TemplateArgument(const char* value) : kind(Kind::Text), text(value) {}
  TemplateArgument(const std::string& value) : kind(Kind::Text), text(value.c_str()) {}
  TemplateArgument(int32_t value) : kind(Kind::Integer), integer(value) {}
  TemplateArgument(uint32_t value) : kind(Kind::Integer), integer(static_cast<int32_t>(value)) {}
  TemplateArgument(const void* value)
      : kind(Kind::Address), address(reinterpret_cast<uintptr_t>(value)) {}
  static TemplateArgument Address(uintptr_t value) {
    TemplateArgument argument(static_cast<const void*>(nullptr));
    argument.address = value;
    return argument;
  }
};

// Fills "%s", "%d", "%x", "%p" and "%%"; raises EConvertError on a directive it
// cannot fill.
std::string FillTemplate(std::string_view templ, std::initializer_list<TemplateArgument> args);

// The same into a fixed buffer of size bytes, cut to fit and zero-terminated;
// returns the length. For the report path: it allocates nothing and never
// raises; a template it cannot fill is copied unfilled.
size_t FillTemplateInto(char* buffer, size_t size, std::string_view templ,
                        std::initializer_list<TemplateArgument> args);
