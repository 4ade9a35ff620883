#ifndef TOLVEX_TESTS_FAULT_SCENARIOS_H_
#define TOLVEX_TESTS_FAULT_SCENARIOS_H_

#include <errno.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive_builder.h"
#include "disk_tree.h"
#include "promise_check.h"
#include "test_files.h"

namespace tolvex {

// The runs that the two fault campaigns (the archive processing in-process, and the built
// program with a library in front of its C library) repeat while one call after another
// fails, and the faults they make.

inline std::string faultPattern(size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 1024) & 0xFF);
  return bytes;
}

// A tree with files of every size class: empty, a few bytes, a few pieces, many pieces
// (more than one 256 KiB window), in nested directories, and an empty directory.
inline const ArchiveBuilder& mixedArchive() {
  static const ArchiveBuilder builder = [] {
    ArchiveBuilder mixed;
    mixed.addFile("big.bin", faultPattern(300000, 1));
    mixed.addFile("d1/a.txt", "ten bytes!");
    mixed.addFile("d1/b.bin", faultPattern(5000, 2));
    mixed.addFile("d1/sub/c.txt", "c");
    mixed.addFile("d1/sub/empty", "");
    mixed.addFile("d2/x.bin", faultPattern(2048, 3));
    mixed.addFile("d2/y.txt", "why");
    mixed.addDirectory("e");
    mixed.addFile("z.txt", faultPattern(700, 4));
    return mixed;
  }();
  return builder;
}

// Overlaps the mixed tree with other bytes, and adds to it.
inline const ArchiveBuilder& secondArchive() {
  static const ArchiveBuilder builder = [] {
    ArchiveBuilder second;
    second.addFile("d1/a.txt", "second a");
    second.addFile("new/n.bin", faultPattern(3000, 5));
    second.addFile("z.txt", "second z");
    return second;
  }();
  return builder;
}

// Every file of the mixed tree already there with other bytes, a file of no archive's,
// and an empty directory that the archive also makes: a run replaces the files, leaves
// the rest, and never removes what it did not make.
inline void fillOutputDirectory() {
  mkdir("tolvex", 0777);
  for (const ArchiveBuilder::Entry& entry : mixedArchive().entries()) {
    if (entry.isDirectory)
      mkdir(entry.path.c_str(), 0777);
    else
      writeFile(entry.path, "old " + entry.path);
  }
  writeFile("tolvex/keep.txt", "no archive has it");
}

// One run: the archives named on the command line, in order ("/dev/stdin": given through a
// pipe), whether standard output is a terminal, and what is in the working directory first.
// The in-process campaign runs those that need neither a pipe nor a terminal nor the
// command line's usage.
struct FaultScenario {
  const char* name;
  std::vector<std::pair<std::string, const ArchiveBuilder*>> archives;
  bool terminal = false;
  std::function<void()> setUp = [] {};

  bool runsInProcess() const {
    return !terminal && !archives.empty() && archives[0].first != "/dev/stdin";
  }
  // Its name as a test's name.
  std::string testName() const {
    std::string text = name;
    for (char& c : text)
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return text;
  }
};

inline const std::vector<FaultScenario>& faultScenarios() {
  static const std::vector<FaultScenario> all = {
      {"no arguments", {}},
      {"no arguments, on a terminal", {}, true},
      {"a fresh output directory", {{"mixed.asar", &mixedArchive()}}},
      {"over a tree that holds every file",
       {{"mixed.asar", &mixedArchive()}},
       false,
       fillOutputDirectory},
      {"the first archive from a pipe",
       {{"/dev/stdin", &mixedArchive()}, {"second.asar", &secondArchive()}}},
      {"two archives", {{"mixed.asar", &mixedArchive()}, {"second.asar", &secondArchive()}}},
      {"on a terminal", {{"mixed.asar", &mixedArchive()}, {"second.asar", &secondArchive()}}, true},
  };
  return all;
}

// Writes the archives of `scenario` into the working directory (but the one read from a
// pipe) and prepares it: the record of the run to come, all but its output.
inline RunRecord prepareRun(const FaultScenario& scenario,
                            const std::set<std::string>& notTheRun = {}) {
  RunRecord record;
  for (const auto& [name, builder] : scenario.archives) {
    if (name != "/dev/stdin") writeFile(name, builder->build());
    record.arguments.push_back({name == "/dev/stdin" ? "stdin" : name, builder->entries()});
  }
  scenario.setUp();
  record.before = snapshotTree(".", notTheRun);
  return record;
}

// One fault: the `occurrence`th call of `call` (counted from 1), or every one from there
// on, fails with the system's error `error`; for writes, only those to the file created
// under the name `file` when it is not empty.
struct Fault {
  std::string call;
  uint64_t occurrence = 0;  // 0: no fault
  bool fromThereOn = false;
  std::string file;
  int error = 0;

  std::string describe() const {
    std::string text = call + " #" + std::to_string(occurrence);
    if (fromThereOn) text += " and on";
    if (!file.empty()) text += " of " + file;
    return text + " (errno " + std::to_string(error) + ")";
  }
};

// The faults of `scenario`, whose run without faults made `calls` (how many of each kind):
// for each kind that `errors` lists, the occurrences `occurrences` picks from its count, each
// failing with every error listed (or, without `everyError`, with one of them in turn); for
// writes also a disk that stays full from each one on; and for each file of the scenario's
// archives its first write failing, and every write from the first or the second on.
inline std::vector<Fault> faultList(
    const FaultScenario& scenario, const std::map<std::string, uint64_t>& calls,
    const std::map<std::string, std::vector<int>>& errors,
    const std::function<std::vector<uint64_t>(uint64_t count)>& occurrences, bool everyError) {
  std::vector<Fault> faults;
  for (const auto& [call, count] : calls) {
    auto listed = errors.find(call);
    if (listed == errors.end()) continue;
    const std::vector<int>& codes = listed->second;
    for (uint64_t n : occurrences(count)) {
      for (size_t i = 0; i < codes.size(); ++i)
        if (everyError || i == n % codes.size()) faults.push_back({call, n, false, "", codes[i]});
      if (call == "write") faults.push_back({call, n, true, "", codes.front()});
    }
  }
  std::set<std::string> names;
  for (const auto& [name, builder] : scenario.archives)
    for (const ArchiveBuilder::Entry& entry : builder->entries())
      if (!entry.isDirectory && entry.size > 0)
        names.insert(entry.path.substr(entry.path.rfind('/') + 1));
  for (const std::string& name : names) {
    faults.push_back({"write", 1, false, name, EIO});
    faults.push_back({"write", 1, true, name, ENOSPC});
    faults.push_back({"write", 2, true, name, ENOSPC});
  }
  return faults;
}

}  // namespace tolvex

#endif  // TOLVEX_TESTS_FAULT_SCENARIOS_H_
