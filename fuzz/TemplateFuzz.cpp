// Any template with any arguments is filled or refused with EConvertError,
// by both fillers alike; the fixed-buffer filler keeps the start of what the
// growing one fills and never writes past its buffer, not even when it
// refuses.
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
  size_t length = 0;
  const bool cut = Fills([&] { length = FillTemplateInto(buffer, 32, templ, args); });
  for (size_t i = 32; i < sizeof(buffer); ++i) {
    if (buffer[i] != 0x55) abort();
  }
  if (grown != cut) abort();
  if (!grown) return 0;
  if (length > 31 || buffer[length] != 0) abort();
  if (length != std::min(filled.size(), size_t{31}) ||
      filled.compare(0, length, buffer, length) != 0)
    abort();
  return 0;
}
