// Damaged archives run through the whole program (the driver's openArchive on a file) in a
// sandbox: each sample archive cut at every byte offset, and a thousand mutants of each made
// from a fixed seed. Whatever the input, nothing outside the output root may change, and
// what it printed and left must hold for any input (checkExtraction): lines in walk order,
// each file holding the archive's own bytes as its line claims, nothing made after a failure.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "disk_tree.h"
#include "extraction_check.h"
#include "sample_archives.h"
#include "sandbox.h"
#include "test_files.h"

namespace tolvex {
namespace {

// What a sample prints and leaves when whole, as its builder knows it.
struct SampleResult {
  std::string output;
  TreeSnapshot tree;
};

SampleResult wholeResult(const ArchiveBuilder& builder) {
  SampleResult whole;
  for (const ArchiveBuilder::Entry& entry : builder.entries()) {
    whole.tree[entry.path.substr(7)] = entry.isDirectory ? "dir" : "file:" + entry.contents;
    if (!entry.isDirectory) whole.output += okLine(entry.path, entry.size);
  }
  return whole;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    result.push_back(text.substr(start, end - start));
  if (start < text.size()) result.push_back(text.substr(start));
  return result;
}

// "" when `output`, printed for an archive cut inside its data region, is the whole
// archive's output up to some file, that file's line stopped by ">", and the failure line.
std::string checkCutOutput(const std::string& output, const std::string& wholeOutput) {
  std::vector<std::string> got = lines(output), whole = lines(wholeOutput);
  if (got.size() < 2 || got.size() > whole.size() + 1 || got.back() != "Error: Extraction failed.")
    return "unexpected lines";
  for (size_t i = 0; i + 2 < got.size(); ++i)
    if (got[i] != whole[i]) return "line " + std::to_string(i) + " differs";
  const std::string& stopped = got[got.size() - 2];
  const std::string& full = whole[got.size() - 2];
  size_t marks = stopped.find(") ");
  if (marks == std::string::npos || full.compare(0, marks + 2, stopped, 0, marks + 2) != 0 ||
      stopped.size() < 5 || stopped.compare(stopped.size() - 4, 4, "> NG") != 0)
    return "the stopped line is not the whole line's start and \"> NG\"";
  return "";
}

class HostileArchiveTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox_.ready());
    SampleArchive sample = sampleArchives()[size_t(GetParam())];
    name_ = sample.name;
    archive_ = sample.builder.build();
    textEnd_ = 16 + sample.builder.headerText().size();
    whole_ = wholeResult(sample.builder);
  }

  // Extracts `archive` from a fresh output root and returns "" when nothing outside the
  // root changed and what it printed and left holds for any input; else the faults.
  std::string extractAndJudge(const std::string& archive, std::string& output) {
    sandbox_.clearOutput();
    output = sandbox_.extract(archive);
    return sandbox_.changesOutside() + checkExtraction(archive, output, "tolvex");
  }

  FileSizeCap cap_{16 << 20};  // mutants declare counts of up to 4 GiB
  Sandbox sandbox_;
  std::string name_;
  std::string archive_;
  size_t textEnd_ = 0;
  SampleResult whole_;
};

TEST_P(HostileArchiveTest, EveryCutIsHarmless) {
  const SampleResult& whole = whole_;
  std::string output;
  ASSERT_EQ("", extractAndJudge(archive_, output));
  ASSERT_EQ(whole.output, output);
  ASSERT_EQ(whole.tree, snapshotTree("tolvex"));

  int findings = 0;
  for (size_t cut = 0; cut < archive_.size(); ++cut) {
    std::string fault = extractAndJudge(archive_.substr(0, cut), output);
    // Short of the whole header nothing is printed; beyond it, a file must come up short,
    // and every file holds the first bytes of its own.
    if (fault.empty())
      fault = cut < textEnd_ ? (output.empty() ? "" : "printed for a cut header")
                             : checkCutOutput(output, whole.output);
    for (const auto& [path, what] : snapshotTree("tolvex")) {
      auto own = whole.tree.find(path);
      if (fault.empty() && what.compare(0, 5, "file:") == 0 &&
          (own == whole.tree.end() || own->second.compare(0, what.size(), what) != 0))
        fault = path + " holds other bytes than its own";
    }
    if (!fault.empty() && ++findings <= 3)
      ADD_FAILURE() << name_ << " cut at " << cut << ": " << fault << "\noutput:\n" << output;
  }
  EXPECT_EQ(0, findings) << archive_.size() << " cuts";
}

// Mutants from one fixed seed: the header text edited (a digit changed, a token put in, a
// stretch removed or repeated) behind a prefix made to fit it, so that the edit reaches the
// parser and the tree walk; or bytes flipped, set, inserted or deleted, mostly in the
// prefix and the header text, a whole prefix field at a time among them; or both.
class Mutator {
 public:
  Mutator(const std::string& text, const std::string& data, uint32_t seed)
      : text_(text), data_(data), random_(seed) {}

  std::string next() {
    std::string text = text_;
    uint32_t kind = pick(10);
    if (kind < 6)
      for (uint32_t edits = 1 + pick(3); edits > 0; --edits)
        editHeader(text);
    std::string archive = archiveFromHeader(text, data_);
    if (kind < 4) return archive;
    for (uint32_t edits = kind < 6 ? 1 : 1 + pick(3); edits > 0; --edits)
      editBytes(archive, 16 + text.size());
    return archive;
  }

 private:
  uint32_t pick(uint32_t bound) { return bound == 0 ? 0 : uint32_t(random_() % bound); }

  void editHeader(std::string& text) {
    // clang-format off
    static const char* const tokens[] = {
        "..",  "/",    "\\\\",       "\\u0000",     "\"",            "{",
        "}",   "[",    "]",          ",",          ":",             "-",
        "0",   "1024", "9999999999", "4294967295", "1E2147483647",  "-1",
        "1.5", " ",    "\"files\":{}", "{\"files\":{", "\"offset\":\"0\"", "\"size\":1024",
    };
    // clang-format on
    static const char* const nameTokens[] = {"/..", "/", "\\\\", "\\u0000", "/../..", "\\u001b[2J"};
    if (text.empty()) text = "{";
    size_t at = pick(uint32_t(text.size()));
    switch (pick(6)) {
      case 0:
      case 1:  // a digit becomes another, so offsets and sizes move
        for (size_t i = 0; i < text.size(); ++i) {
          char& c = text[(at + i) % text.size()];
          if (c >= '0' && c <= '9') {
            c = char('0' + pick(10));
            break;
          }
        }
        break;
      case 2: {  // a key gets a name ending that it must not have
        size_t keyEnd = text.find("\":{", at);
        if (keyEnd == std::string::npos) keyEnd = text.find("\":{");
        if (keyEnd != std::string::npos)
          text.insert(keyEnd, nameTokens[pick(sizeof nameTokens / sizeof nameTokens[0])]);
        break;
      }
      case 3:
        text.insert(at, tokens[pick(sizeof tokens / sizeof tokens[0])]);
        break;
      case 4:
        text.erase(at, 1 + pick(8));
        break;
      default:
        text.insert(at, text.substr(at, 1 + pick(16)));
        break;
    }
  }

  // Edits anywhere; prefix fields are hit often, as `hot` bytes (prefix and text) are.
  void editBytes(std::string& archive, size_t hot) {
    if (archive.empty()) archive.push_back('\0');
    size_t at = pick(3) == 0 ? pick(uint32_t(archive.size()))
                             : pick(uint32_t(std::min(hot, archive.size())));
    static const char interesting[] = {'\0', '\x04', '\xFF', '\x80', '/', '.', '\\', '"', '0', '9'};
    switch (pick(5)) {
      case 0:
        archive[at] = char(archive[at] ^ (1 << pick(8)));
        break;
      case 1:
        archive[at] = pick(2) ? char(pick(256)) : interesting[pick(sizeof interesting)];
        break;
      case 2:
        archive.insert(at, 1 + pick(4), char(pick(256)));
        break;
      case 3:
        archive.erase(at, 1 + pick(8));
        break;
      default: {  // a whole prefix field
        static const uint32_t values[] = {0, 4, 8, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFC, 0xFFFFFFFF};
        std::string field = le32({values[pick(sizeof values / sizeof values[0])]});
        archive.replace(4 * pick(4), 4, field);
        break;
      }
    }
  }

  std::string text_;
  std::string data_;
  std::mt19937 random_;
};

constexpr uint32_t mutationSeed = 0x70173C5;
constexpr int mutantsPerSample = 1000;

TEST_P(HostileArchiveTest, MutantsAreHarmless) {
  SampleArchive sample = sampleArchives()[size_t(GetParam())];
  std::string text = sample.builder.headerText();
  size_t dataBase = 16 + (text.size() + 3) / 4 * 4;
  Mutator mutator(text, archive_.substr(dataBase), mutationSeed + uint32_t(GetParam()));
  int findings = 0, extracted = 0;
  for (int i = 0; i < mutantsPerSample; ++i) {
    std::string mutant = mutator.next();
    std::string output;
    std::string fault = extractAndJudge(mutant, output);
    extracted += output.find("Extracting ") != std::string::npos;
    if (!fault.empty() && ++findings <= 3)
      ADD_FAILURE() << name_ << " mutant " << i << ": " << fault
                    << "\nmutant: " << jsonQuoted(mutant) << "\noutput:\n"
                    << output;
  }
  EXPECT_EQ(0, findings);
  // The mutants must reach the tree walk often enough to test it.
  EXPECT_LT(mutantsPerSample / 10, extracted);
}

INSTANTIATE_TEST_SUITE_P(Samples, HostileArchiveTest, ::testing::Range(0, 3),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sampleArchives()[size_t(info.param)].name);
                         });

}  // namespace
}  // namespace tolvex
