#pragma once

#include <cstdint>

enum MessageId : uint16_t {
#define KV_MESSAGE(id, name, text) name = id,
#include "Messages.def"
#undef KV_MESSAGE
};
