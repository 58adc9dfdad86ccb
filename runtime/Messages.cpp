#include "Messages.h"

#include "Win32.h"

namespace {
HMODULE messageModule = nullptr;
}

void UseMessageModule(HMODULE module) { messageModule = module; }

int LoadMessageInto(uint16_t id, char* buffer, int size) {
  int length = messageModule ? LoadStringA(messageModule, id, buffer, size) : 0;
  if (length <= 0) length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, size);
  if (length > 0) return length;
  buffer[0] = 0;
  return 0;
}

std::string LoadMessage(uint16_t id) {
  char text[1024];
  return std::string(text, LoadMessageInto(id, text, sizeof(text)));
}
