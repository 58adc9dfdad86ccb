// Prints the arguments as the program itself splits them from its command
// line: the count, then each one between brackets.
#include <cstdio>

#include "CommandLine.h"

int main() {
  const int32_t count = ArgumentCount();
  printf("%d\n", count);
  for (int32_t n = 1; n <= count; ++n) printf("[%s]\n", ArgumentText(n).c_str());
}
