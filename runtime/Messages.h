#pragma once

#include <cstdint>
#include <string>

#include "MessageIds.h"
#include "Win32.h"

// The text with that id from the string table, at most 1,023 bytes; empty
// when the id is missing. A language resource file loaded at start-up is
// read first; a text it lacks comes from the program's own table.
std::string LoadMessage(uint16_t id);

// The same into a fixed buffer of size bytes, for the report path, which may
// not allocate; returns the length.
int LoadMessageInto(uint16_t id, char* buffer, int size);

// Makes LoadMessage read from the given module (a language resource file);
// null returns to the program's own table.
void UseMessageModule(HMODULE module);
