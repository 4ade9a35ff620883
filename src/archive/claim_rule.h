#ifndef TOLVEX_ARCHIVE_CLAIM_RULE_H_
#define TOLVEX_ARCHIVE_CLAIM_RULE_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include "archive/output_directory.h"
#include "platform/platform.h"

namespace tolvex {

// Which entry a copying thread takes next, decided from the entries' states alone. The
// line holds the entries of a walk whose lines are not printed yet, in walk order; the
// front (position 0) is the entry whose turn it is.

// What the rule reads of one entry of the line.
struct ClaimFacts {
  enum class Stage : uint8_t { Waiting, Running, Done };

  Stage stage = Stage::Waiting;
  bool atTurnOnly = false;  // it is not to be made ahead of its turn any more
  bool named = false;       // its name stands in its directory: made by this run, or done
  // The directory it is made in: how that stands, which one it is (0 for a refused
  // entry, which makes nothing), and its identity where names may fold.
  OutputDirectory::State place = OutputDirectory::State::Open;
  uintptr_t directory = 0;
  DirectoryId id;
};

// No entry to take.
constexpr size_t noClaim = ~size_t(0);

// The position of the entry to take next in `line` (size() and operator[] giving
// ClaimFacts), or noClaim:
// - the front, when it waits: it is made at its turn;
// - else, when `ahead` (entries may be made ahead of their turns now), the first entry
//   that may be made ahead:
//   - where no directory of the run may fold names (`mayFold` false), any waiting entry
//     whose directory is open; the first that is made elsewhere than every running copy
//     is taken, so that copies do not queue for one directory's lock, else the first;
//   - where one may, names in one directory are made in walk order: an entry waits while
//     an earlier entry in the same directory (by identity) has not made its name, or a
//     copy runs there; and nothing is taken past an entry whose directory is not made yet,
//     as that directory could turn out to be any directory.
template <typename Line>
size_t chooseClaim(const Line& line, bool ahead, bool mayFold);

// ---------------------------------------------------------------------------------------

namespace claim_rule {

using Stage = ClaimFacts::Stage;

// A few distinct values, found in order; when full, it claims to hold everything, so that
// the rule errs on the side of waiting.
template <typename Value, size_t capacity>
class SmallSet {
 public:
  bool has(const Value& value) const {
    if (count_ == capacity) return true;
    for (size_t i = 0; i < count_; ++i)
      if (values_[i] == value) return true;
    return false;
  }
  void add(const Value& value) {
    if (!has(value)) values_[count_++] = value;
  }

 private:
  std::array<Value, capacity> values_;
  size_t count_ = 0;
};

template <typename Line>
size_t firstElsewhere(const Line& line) {
  SmallSet<uintptr_t, 64> busy;
  for (size_t i = 0; i < line.size(); ++i) {
    const ClaimFacts facts = line[i];
    if (facts.stage == Stage::Running) busy.add(facts.directory);
  }
  size_t first = noClaim;
  for (size_t i = 1; i < line.size(); ++i) {
    const ClaimFacts facts = line[i];
    if (facts.stage != Stage::Waiting || facts.atTurnOnly || facts.directory == 0 ||
        facts.place != OutputDirectory::State::Open)
      continue;
    if (!busy.has(facts.directory)) return i;
    if (first == noClaim) first = i;
  }
  return first;
}

template <typename Line>
size_t firstInOrder(const Line& line) {
  // The directories in which an earlier entry has yet to make its name, or a copy runs:
  // the copy goes on there with the entries that follow, so this thread looks for a
  // directory of its own instead of taking turns with it name by name.
  SmallSet<DirectoryId, 256> pending;
  for (size_t i = 0; i < line.size(); ++i) {
    const ClaimFacts facts = line[i];
    if (facts.named && facts.stage != Stage::Running) continue;
    if (facts.place == OutputDirectory::State::Unmade) return noClaim;
    if (facts.place != OutputDirectory::State::Open) continue;  // nothing is made there
    if (pending.has(facts.id)) continue;
    if (i > 0 && facts.stage == Stage::Waiting && !facts.atTurnOnly) return i;
    pending.add(facts.id);
  }
  return noClaim;
}

}  // namespace claim_rule

template <typename Line>
size_t chooseClaim(const Line& line, bool ahead, bool mayFold) {
  if (line.size() == 0) return noClaim;
  if (line[0].stage == ClaimFacts::Stage::Waiting) return 0;
  if (!ahead) return noClaim;
  return mayFold ? claim_rule::firstInOrder(line) : claim_rule::firstElsewhere(line);
}

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_CLAIM_RULE_H_
