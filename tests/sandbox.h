#ifndef TOLVEX_TESTS_SANDBOX_H_
#define TOLVEX_TESTS_SANDBOX_H_

#include <string>

#include "disk_tree.h"
#include "temp_dir.h"

namespace tolvex {

// A scratch directory for running hostile archives in-process. Laid out as
//   <temp>/sentinel          a file one level above the working directory
//   <temp>/work/             the working directory while the sandbox lives
//   <temp>/work/sentinel     a file beside the output root
//   <temp>/work/archive      the archive under test
//   <temp>/work/tolvex/      the output root
// Everything but the output root is recorded when the sandbox is made (and again by
// rememberOutside(); the archive as extract() writes it), so that changesOutside() can tell
// whether an extraction touched anything it must not.
class Sandbox {
 public:
  Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  ~Sandbox();

  // False when the layout could not be made.
  bool ready() const { return ready_; }

  // Path of the sandbox's top directory (the parent of the working directory).
  const std::string& top() const { return dir_.path(); }

  // Writes `archive` to ./archive and extracts it with the driver's openArchive, with
  // the console captured (seen as a terminal when `asTerminal`). Returns what was printed.
  // The output root is left as the extraction left it. Extractions take 1, 2, 4 and 16
  // copying threads in turn, over every sandbox of the process, so that each suite that
  // runs archives here makes their entries with each.
  std::string extract(const std::string& archive, bool asTerminal = false);

  // Removes the output root and everything below it.
  void clearOutput();

  // Records the current state of everything outside the output root as the expected one.
  void rememberOutside();

  // "" when nothing outside the output root differs from what was recorded; otherwise one
  // line per difference.
  std::string changesOutside() const;

 private:
  TempDir dir_;
  bool ready_ = false;
  TreeSnapshot outside_;
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_SANDBOX_H_
