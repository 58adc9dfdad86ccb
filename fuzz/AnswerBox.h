#pragma once

#include <string>

// Each byte answers one box in turn: Yes, No or neither (byte value mod 3);
// boxes past the last byte get neither.
void SetBoxAnswers(std::string text);
// Whether every box shown since SetBoxAnswers was answered Yes or No.
bool EveryBoxAnswered();
