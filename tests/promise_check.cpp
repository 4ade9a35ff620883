#include "promise_check.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>

#include "extraction_check.h"

namespace tolvex {
namespace {

constexpr uint64_t pieceSize = 1024;

const std::string outputRoot = "tolvex";
const std::string usageLine = "Usage: tolvex <file> [<file> ...]";

bool isBelowRoot(const std::string& path) {
  return path == outputRoot || path.compare(0, outputRoot.size() + 1, outputRoot + "/") == 0;
}

bool startsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

std::vector<std::string> splitLines(const std::string& text, bool& ended) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  ended = start == text.size();
  if (!ended) lines.push_back(text.substr(start));
  return lines;
}

// What a path may hold after the run: a test of the snapshot's description of it ("file:"
// and the contents, "dir", ...; null when the path is absent).
struct Expectation {
  std::function<bool(const std::string*)> accepts;
  std::string description;
};

Expectation unchanged(const TreeSnapshot& before, const std::string& path) {
  auto found = before.find(path);
  if (found == before.end())
    return {[](const std::string* now) { return now == nullptr; }, "absent"};
  std::string was = found->second;
  return {[was](const std::string* now) { return now != nullptr && *now == was; },
          "as before (" + was.substr(0, 40) + ")"};
}

// One archive's part of the output, judged line by line against its entries.
class Section {
 public:
  Section(const std::vector<ArchiveBuilder::Entry>& entries,
          std::map<std::string, Expectation>& files)
      : files_(files), entries_(entries) {
    for (size_t i = 0; i < entries_.size(); ++i)
      if (!entries_[i].isDirectory) lineEntries_.push_back(i);
  }

  // Judges `lines`; returns the faults and sets how far into the walk the run came.
  std::string judge(const std::vector<std::string>& lines) {
    reached_ = 0;
    if (lines.empty()) {
      // Not an archive, unreadable, or a tree without files that was made whole.
      if (lineEntries_.empty()) reached_ = entries_.size();
      return "";
    }
    if (lines.size() == 1 &&
        (lines[0] == "Error: Cannot open archive." || lines[0] == "Error: Header malformed."))
      return "";
    std::string faults;
    bool failed = false;
    size_t printed = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      if (line == "Error: Extraction failed.") {
        if (i + 1 != lines.size()) faults += "lines after \"Error: Extraction failed.\"\n";
        if (!failed && printed == lineEntries_.size())
          faults += "\"Error: Extraction failed.\" after every file was extracted\n";
        return faults;
      }
      if (failed) return faults + "a line after a failed file: " + line + "\n";
      if (printed == lineEntries_.size()) return faults + "a line beyond the walk: " + line + "\n";
      size_t index = lineEntries_[printed++];
      reached_ = index + 1;
      std::string fault = progressLine(line, entries_[index], failed);
      if (!fault.empty()) return faults + fault;
    }
    if (failed) return faults + "no \"Error: Extraction failed.\" after a failed file\n";
    if (printed != lineEntries_.size()) return faults + "the walk stopped without a failure\n";
    reached_ = entries_.size();
    return faults;
  }

  // True when the directory `path` is one this archive may have made by its last line.
  bool mayHaveMade(const std::string& path) const {
    if (path == outputRoot) return reached_ > 0 || lineEntries_.empty();
    for (size_t i = 0; i < reached_; ++i)
      if (entries_[i].isDirectory && entries_[i].path == path) return true;
    return false;
  }

  // True when `path` is the output root or a directory of this archive's tree.
  bool hasDirectory(const std::string& path) const {
    if (path == outputRoot) return true;
    for (const ArchiveBuilder::Entry& entry : entries_)
      if (entry.isDirectory && entry.path == path) return true;
    return false;
  }

  // True when `contents` at `path` could be left by some extraction of this archive.
  bool couldHold(const std::string& path, const std::string& contents) const {
    for (const ArchiveBuilder::Entry& entry : entries_) {
      if (entry.isDirectory || entry.path != path) continue;
      if (entry.contents.compare(0, contents.size(), contents) == 0 &&
          contents.size() <= entry.contents.size() &&
          (contents.size() == entry.size || contents.size() % pieceSize == 0))
        return true;
    }
    return false;
  }

 private:
  // Checks one progress line and records what its file may hold.
  std::string progressLine(const std::string& text, const ArchiveBuilder::Entry& entry,
                           bool& failed) {
    PrintedLine line;
    if (!parsePrintedLine(text, line) || line.path != entry.path)
      return "expected a line for " + entry.path + ": " + text + "\n";
    failed = !line.ok;
    if (!line.madeFile) {
      const Expectation before = current(entry.path);
      files_[entry.path] = {
          [before](const std::string* now) { return now == nullptr || before.accepts(now); },
          "no new file (" + before.description + ")"};
      return "";
    }
    if (line.count != entry.size) return "wrong size in: " + text + "\n";
    if (line.ok && !claimOf(line, entry.size).empty())
      return "an OK line without all its marks: " + text + "\n";
    const std::string bytes = entry.contents;
    files_[entry.path] = {[bytes, line](const std::string* now) {
                            if (now == nullptr || !startsWith(*now, "file:")) return false;
                            const std::string held = now->substr(5);
                            return startsWith(bytes, held) && claimOf(line, held.size()).empty();
                          },
                          line.ok ? "the archive's bytes" : "what its marks claim"};
    return "";
  }

  Expectation current(const std::string& path) const {
    auto found = files_.find(path);
    if (found != files_.end()) return found->second;
    return {[](const std::string* now) { return now == nullptr; }, "absent"};
  }

  std::map<std::string, Expectation>& files_;
  const std::vector<ArchiveBuilder::Entry>& entries_;
  std::vector<size_t> lineEntries_;  // the entries that print a line, by index
  size_t reached_ = 0;               // the entries up to here may have been made
};

// Splits the output into the lines of each argument; faults when its frame is wrong.
std::string frame(const RunRecord& run, std::vector<std::vector<std::string>>& sections) {
  if (!startsWith(run.output, run.start)) return "the output does not begin as it should\n";
  if (run.arguments.empty())
    return run.output == completeOutput(run) ? "" : "no usage line after the banner\n";
  bool ended = false;
  std::vector<std::string> lines = splitLines(run.output.substr(run.start.size()), ended);
  if (!ended) return "the last line is not ended\n";
  size_t at = 0;
  sections.assign(run.arguments.size(), {});
  for (size_t i = 0; i < run.arguments.size(); ++i) {
    if (at == lines.size() || lines[at] != run.arguments[i].name)
      return "no name line for " + run.arguments[i].name + "\n";
    ++at;
    while (at < lines.size() &&
           (startsWith(lines[at], "Extracting ") || startsWith(lines[at], "Error: ")))
      sections[i].push_back(lines[at++]);
  }
  if (at != lines.size()) return "lines after the last archive's: " + lines[at] + "\n";
  return "";
}

std::string describe(const TreeSnapshot& tree, const std::string& path) {
  auto found = tree.find(path);
  if (found == tree.end()) return "absent";
  return found->second.size() > 60 ? found->second.substr(0, 60) + "..." : found->second;
}

}  // namespace

std::string checkPromises(const RunRecord& run) {
  std::string faults;
  std::set<std::string> paths;
  for (const auto& [path, what] : run.before)
    paths.insert(path);
  for (const auto& [path, what] : run.after)
    paths.insert(path);
  // Outside the output root nothing changes.
  for (const std::string& path : paths)
    if (!isBelowRoot(path) && describe(run.before, path) != describe(run.after, path))
      faults += "outside the output root: " + path + " " + describe(run.before, path) + " -> " +
                describe(run.after, path) + "\n";

  std::map<std::string, Expectation> files;
  for (const std::string& path : paths)
    if (isBelowRoot(path)) files[path] = unchanged(run.before, path);
  std::vector<Section> sections;
  for (const RunRecord::Argument& argument : run.arguments)
    sections.emplace_back(argument.entries, files);

  if (!run.outputComplete) {
    // Lines were lost: each new thing below the root must be one of the archives' own.
    for (const std::string& path : paths) {
      if (!isBelowRoot(path) || describe(run.before, path) == describe(run.after, path)) continue;
      auto now = run.after.find(path);
      if (now == run.after.end()) continue;
      bool allowed = false;
      for (const Section& section : sections)
        allowed =
            allowed || (now->second == "dir" ? section.hasDirectory(path)
                                             : startsWith(now->second, "file:") &&
                                                   section.couldHold(path, now->second.substr(5)));
      if (!allowed)
        faults += "below the output root: " + path + " " + describe(run.after, path) + "\n";
    }
    return faults;
  }

  std::vector<std::vector<std::string>> lines;
  std::string framing = frame(run, lines);
  if (!framing.empty()) return faults + framing;
  for (size_t i = 0; i < sections.size(); ++i) {
    std::string fault = sections[i].judge(lines[i]);
    if (!fault.empty()) faults += run.arguments[i].name + ": " + fault;
  }
  for (const auto& [path, expected] : files)
    paths.insert(path);  // a file with a line may be absent before and after
  for (const std::string& path : paths) {
    if (!isBelowRoot(path)) continue;
    auto now = run.after.find(path);
    const std::string* held = now == run.after.end() ? nullptr : &now->second;
    if (held != nullptr && *held == "dir" && describe(run.before, path) != "dir") {
      bool made = false;
      for (const Section& section : sections)
        made = made || section.mayHaveMade(path);
      if (!made) faults += "a directory no printed entry accounts for: " + path + "\n";
      continue;
    }
    const Expectation& expected = files[path];
    if (!expected.accepts(held))
      faults +=
          path + " is " + describe(run.after, path) + ", expected " + expected.description + "\n";
  }
  return faults;
}

std::string completeOutput(const RunRecord& run) {
  std::string output = run.start;
  if (run.arguments.empty() && !run.start.empty()) return output + usageLine + "\n";
  for (const RunRecord::Argument& argument : run.arguments) {
    output += argument.name + "\n";
    for (const ArchiveBuilder::Entry& entry : argument.entries)
      if (!entry.isDirectory) output += okLine(entry.path, entry.size);
  }
  return output;
}

}  // namespace tolvex
