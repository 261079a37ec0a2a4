// Prints a file as a Windows program reads it in text mode, as DOSBox for Windows reads its
// configuration: CR LF becomes LF, and the first Ctrl+Z ends it.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "r");
  if (file == nullptr) {
    return 1;
  }
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    std::putchar(c == '\n' ? '|' : c);
  }
  std::fclose(file);
  return 0;
}
