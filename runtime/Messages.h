#pragma once

#include <cstdint>
#include <string>

#include "MessageIds.h"
#include "Win32.h"

// The text with that id from the string table (of the language resource file
// when start-up loaded one), at most 1,023 bytes; empty when the id is missing.
std::string LoadMessage(uint16_t id);

// Makes LoadMessage read from the given module (a language resource file);
// null returns to the program's own table.
void UseMessageModule(HMODULE module);
