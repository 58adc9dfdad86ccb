#include <iterator>

#include "StringResources.h"

const StringResource stringResources[] = {
#define KV_MESSAGE(id, name, text) {id, text, sizeof(text) - 1},
#include "Messages.def"
#undef KV_MESSAGE
};

const size_t stringResourceCount = std::size(stringResources);
