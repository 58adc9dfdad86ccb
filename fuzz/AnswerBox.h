#pragma once

#include <string>

// Each byte answers one box in turn: Yes for an even byte, No for an odd
// one; boxes past the last byte get No.
void SetBoxAnswers(std::string text);
