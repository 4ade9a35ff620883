// tolvex with the number of threads that make entries fixed, for the benchmarks that draw
// the curve over it: `tolvex_fixed_threads N archive...` runs as tolvex does, with N
// threads (1 to 16). tolvex itself always chooses the number for itself.

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const long threads = std::atol(argv[1]);
  if (threads < 1 || threads > 16) return 2;
  tolvex::installSignalHandling();
  try {
    std::vector<std::string> arguments = tolvex::commandLineArguments(argc, argv);
    arguments.erase(arguments.begin());
    tolvex::runCommandLine(arguments, static_cast<size_t>(threads));
  } catch (const std::bad_alloc&) {
  }
  tolvex::endByInterrupt();
  return 0;
}
