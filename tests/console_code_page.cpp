// Prints the console's output code page, for the tests to see what a run leaves behind.
#include <windows.h>

#include <cstdio>

int main() {
  std::printf("code page %u\n", GetConsoleOutputCP());
  return 0;
}
