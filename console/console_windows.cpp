#include <windows.h>

#include <cstdlib>

#include "console/console.h"

void prepare_console() {
  SetConsoleOutputCP(CP_UTF8);
}

void pause_console() {
  std::system("pause");
}
