// tolvex: extracts ASAR archives into ./tolvex. The exit status is always 0, unless an
// interrupt ends the program.

#include <new>

#include "cli/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  tolvex::installSignalHandling();
  try {
    tolvex::runCommandLine(tolvex::commandLineArguments(argc, argv));
  } catch (const std::bad_alloc&) {
    // No memory even for the command line: there is nothing to extract.
  }
  tolvex::endByInterrupt();
  return 0;
}
