// tolvex: extracts ASAR archives into ./tolvex. The exit status is always 0, unless an
// interrupt ends the program.

#include "archive/platform.h"
#include "cli/driver.h"

int main(int argc, char** argv) {
  tolvex::installSignalHandling();
  tolvex::runCommandLine(tolvex::commandLineArguments(argc, argv));
  tolvex::endByInterrupt();
  return 0;
}
