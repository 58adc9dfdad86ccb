#include "Messages.h"

#include "Win32.h"

namespace {
HMODULE messageModule = nullptr;
}

void UseMessageModule(HMODULE module) { messageModule = module; }

std::string LoadMessage(uint16_t id) {
  char text[1024];
  const int length = LoadStringA(messageModule ? messageModule : GetModuleHandleA(nullptr), id,
                                 text, sizeof(text));
  return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}
