#pragma once

#include <cstdint>
#include <string>

// The program's arguments, split from the command line as the platform hands
// it over. Argument 0 is the program's file name.
int32_t ArgumentCount();
std::string ArgumentText(int32_t n);

// The same splitting over any command line; argument 0 is the first one of
// the line itself.
int32_t ArgumentCountOf(const char* commandLine);
std::string ArgumentTextOf(const char* commandLine, int32_t n);
