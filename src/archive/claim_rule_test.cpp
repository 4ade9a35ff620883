#include "archive/claim_rule.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace tolvex {
namespace {

// A line written as words, front first: a stage (W waiting, R running, D done), the
// directory the entry is made in (a digit, also its identity), then flags: n named, t to be
// made at its turn only, u its directory not made yet, x its directory unusable.
std::vector<ClaimFacts> line(const std::string& words) {
  std::vector<ClaimFacts> entries;
  std::istringstream in(words);
  for (std::string word; in >> word;) {
    ClaimFacts facts;
    facts.stage = word[0] == 'W'   ? ClaimFacts::Stage::Waiting
                  : word[0] == 'R' ? ClaimFacts::Stage::Running
                                   : ClaimFacts::Stage::Done;
    facts.directory = static_cast<uintptr_t>(word[1] - '0');
    facts.id = {1, facts.directory};
    for (char flag : word.substr(2)) {
      if (flag == 'n') facts.named = true;
      if (flag == 't') facts.atTurnOnly = true;
      if (flag == 'u') facts.place = OutputDirectory::State::Unmade;
      if (flag == 'x') facts.place = OutputDirectory::State::Unusable;
    }
    entries.push_back(facts);
  }
  return entries;
}

struct Case {
  const char* line;
  bool ahead;
  bool mayFold;
  size_t chosen;
};

TEST(ClaimRule, ChoosesTheFrontThenTheFirstEntryThatMayBeMadeAhead) {
  const Case cases[] = {
      {"", true, false, noClaim},
      // The front, when it waits, whatever else holds.
      {"W1 W2", false, false, 0},
      {"W1u R1", true, true, 0},
      // Nothing ahead while the run does not allow it.
      {"R1 W2", false, false, noClaim},
      // Names never fold: elsewhere than every running copy first, else the first.
      {"R1 W1 W2", true, false, 2},
      {"R1 W1 R2 W2 W3", true, false, 4},
      {"R1 W1 R2 W2", true, false, 1},
      {"R1 W1t W1x W1", true, false, 3},
      {"R1 D1n R1", true, false, noClaim},
      // Names may fold: in walk order within a directory, and not past one not yet made.
      {"R1 W1", true, true, noClaim},
      {"R1 W2", true, true, 1},
      {"R1n W1", true, true, noClaim},
      {"R1 D2n W2", true, true, 2},
      {"R1 W2t W2 W3", true, true, 3},
      {"R1 W2x W3", true, true, 2},
      {"R1 W2u W3", true, true, noClaim},
      {"D1n R2 W3 W2", true, true, 2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.chosen, chooseClaim(line(c.line), c.ahead, c.mayFold))
        << "line \"" << c.line << "\"" << (c.ahead ? "" : ", nothing ahead")
        << (c.mayFold ? ", names may fold" : "");
}

}  // namespace
}  // namespace tolvex
