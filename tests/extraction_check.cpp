#include "extraction_check.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "disk_tree.h"

namespace tolvex {
namespace {

constexpr uint64_t pieceSize = 1024;

// A path's keys below the root, in walk order as a sequence.
std::vector<std::string> keysOf(const std::string& path) {
  std::vector<std::string> keys;
  size_t start = 0;
  for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
    keys.push_back(path.substr(start, slash - start));
  keys.push_back(path.substr(start));
  return keys;
}

// The records of `output`: its lines, a name that holds a newline going on on the next.
std::vector<std::string> recordsOf(const std::string& output, bool& ended) {
  std::vector<std::string> records;
  size_t start = 0;
  for (size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string text = output.substr(start, end - start);
    if (records.empty() || text.compare(0, 11, "Extracting ") == 0 ||
        text.compare(0, 7, "Error: ") == 0)
      records.push_back(text);
    else
      records.back() += "\n" + text;
  }
  ended = start == output.size();
  return records;
}

}  // namespace

bool parsePrintedLine(const std::string& text, PrintedLine& line) {
  const std::string start = "Extracting ";
  if (text.compare(0, start.size(), start) != 0) return false;
  const std::string notMade = " o NG";
  if (text.size() >= start.size() + notMade.size() &&
      text.compare(text.size() - notMade.size(), notMade.size(), notMade) == 0) {
    line.path = text.substr(start.size(), text.size() - notMade.size() - start.size());
    return true;
  }
  // The count is the last parenthesis: what follows it holds none.
  size_t open = text.rfind(" (");
  size_t close = text.find(") ", open == std::string::npos ? 0 : open);
  if (open == std::string::npos || open < start.size() || close == std::string::npos ||
      close == open + 2 || text.size() < close + 5)
    return false;
  for (size_t i = open + 2; i < close; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  line.path = text.substr(start.size(), open - start.size());
  line.madeFile = true;
  line.count = std::strtoull(text.c_str() + open + 2, nullptr, 10);
  size_t at = close + 2;
  while (at < text.size() && text[at] == '.')
    ++at;
  line.marks = at - close - 2;
  if (at < text.size() && (text[at] == '>' || text[at] == '<')) line.stop = text[at++];
  line.ok = text.compare(at, std::string::npos, " OK") == 0 && line.stop == '\0';
  return line.ok || text.compare(at, std::string::npos, " NG") == 0;
}

std::string claimOf(const PrintedLine& line, uint64_t held) {
  const bool all = held == line.count;
  const uint64_t marks = all ? (held + pieceSize - 1) / pieceSize : held / pieceSize;
  if ((line.ok && !all) || held > line.count || line.marks != marks)
    return " holds " + std::to_string(held) + " bytes, not what its line claims";
  if (line.stop == '>' && !all && held % pieceSize != 0)
    return " holds part of a piece after the archive ran short";
  return "";
}

std::string checkExtraction(const std::string& archive, const std::string& output,
                            const std::string& root) {
  TreeSnapshot tree;
  bool rootExists = true;
  for (const auto& [path, what] : snapshotTree(root)) {
    if (path == "*")
      rootExists = false;  // missing
    else
      tree[root + "/" + path] = what;
  }
  if (output == "Error: Header malformed.\n")
    return rootExists ? "a malformed header, yet " + root + " exists" : "";
  // The data region starts after the header block, whose size the prefix's second field
  // holds.
  std::string data;
  if (archive.size() >= 8) {
    const auto* field = reinterpret_cast<const unsigned char*>(archive.data() + 4);
    uint64_t base = 8 + (uint64_t(field[0]) | uint64_t(field[1]) << 8 | uint64_t(field[2]) << 16 |
                         uint64_t(field[3]) << 24);
    if (base < archive.size()) data = archive.substr(base);
  }

  bool ended = false;
  std::vector<PrintedLine> lines;
  bool failed = false;
  for (const std::string& text : recordsOf(output, ended)) {
    if (failed) return "a line after the failure line: " + text;
    failed = text == "Error: Extraction failed.";
    if (failed) continue;
    PrintedLine line;
    if (!parsePrintedLine(text, line)) return "a malformed line: " + text;
    if (!lines.empty() && !lines.back().ok) return "a line after a failed one: " + text;
    if (line.madeFile && !lines.empty() && !(keysOf(lines.back().path) < keysOf(line.path)))
      return "out of walk order: " + line.path;
    lines.push_back(line);
  }
  if (!ended) return "an unended line";
  if (!lines.empty() && !lines.back().ok && !failed) return "no failure line after a failed file";

  for (const PrintedLine& line : lines) {
    if (!line.madeFile) continue;
    auto found = tree.find(line.path);
    if (found == tree.end() || found->second.compare(0, 5, "file:") != 0)
      return "no file for " + line.path;
    const std::string contents = found->second.substr(5);
    std::string fault = claimOf(line, contents.size());
    if (!fault.empty()) return line.path + fault;
    if (!contents.empty() && data.find(contents) == std::string::npos)
      return line.path + " holds bytes that are not the archive's";
    tree.erase(found);
  }
  // What is left has no line: directories only, none after a failed file, as everything
  // made ahead of it is taken back.
  const PrintedLine* failedFile =
      !lines.empty() && lines.back().madeFile && !lines.back().ok ? &lines.back() : nullptr;
  for (const auto& [path, what] : tree) {
    if (what != "dir") return path + " has no line, and is " + what.substr(0, 40);
    if (failedFile != nullptr && keysOf(failedFile->path) < keysOf(path))
      return path + " is left after the failed " + failedFile->path;
  }
  return "";
}

}  // namespace tolvex
