#pragma once

#include <cstdint>
#include <string>

#include "MessageIds.h"

// The text with that id from the string table (of the language resource file
// when start-up loaded one), at most 1,023 bytes; empty when the id is missing.
std::string LoadMessage(uint16_t id);
