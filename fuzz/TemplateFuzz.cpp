// Any template with any arguments is filled or refused with EConvertError by
// the growing filler; the fixed-buffer filler keeps the start of what that
// one fills, or of the template it refuses, and never writes past its buffer.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "Template.h"

namespace {

// The first bytes of the text as a number, the rest zero.
uint64_t NumberOf(const std::string& text) {
  uint64_t value = 0;
  memcpy(&value, text.data(), std::min(text.size(), sizeof(value)));
  return value;
}

// False when the call raised EConvertError; any other exception is a fault.
template <typename Call>
bool Fills(Call call) {
  try {
    call();
    return true;
  } catch (Exception* failure) {
    if (!dynamic_cast<EConvertError*>(failure)) abort();
    ReleaseException(failure);
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> pieces = FuzzPieces(data, size, 4);
  const std::string& templ = pieces[0];
  const auto integer = static_cast<int32_t>(NumberOf(pieces[2]));
  const auto address = TemplateArgument::Address(static_cast<uintptr_t>(NumberOf(pieces[3])));
  const std::initializer_list<TemplateArgument> args = {pieces[1], integer, address,
                                                        pieces[1].c_str()};
  std::string filled;
  const bool grown = Fills([&] { filled = FillTemplate(templ, args); });
  char buffer[64];
  memset(buffer, 0x55, sizeof(buffer));
  const size_t length = FillTemplateInto(buffer, 32, templ, args);
  for (size_t i = 32; i < sizeof(buffer); ++i) {
    if (buffer[i] != 0x55) abort();
  }
  if (length > 31 || buffer[length] != 0) abort();
  const std::string& expected = grown ? filled : templ;
  if (length != std::min(expected.size(), size_t{31}) ||
      expected.compare(0, length, buffer, length) != 0)
    abort();
  return 0;
}
