// tolvex: extracts ASAR archives into ./tolvex. The exit status is always 0.

#include "cli/driver.h"

int main(int argc, char** argv) {
  tolvex::runCommandLine(argc - 1, argv + 1);
  return 0;
}
