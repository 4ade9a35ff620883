// The fault campaign: the built program is run with a library in front of its C library
// (fault_shim.cpp) that makes one of its calls fail, for each call that a run without
// faults makes (every occurrence of every kind, the frequent ones sampled with a fixed
// seed), in several scenarios. Each run is judged by the README's promises
// (checkPromises): it ends by itself with status 0, its lines are well formed and in walk
// order, every file holds what its line claims, and nothing else is touched.
//
// TOLVEX_CAMPAIGN=full runs every occurrence instead of a sample.

#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "disk_tree.h"
#include "extraction_check.h"
#include "fault_scenarios.h"
#include "program_run.h"
#include "promise_check.h"
#include "temp_dir.h"
#include "test_files.h"

namespace tolvex {
namespace {

// The calls of one kind that a sampled campaign fails: the first ones, the last ones and a
// few between them, drawn with a fixed seed.
constexpr uint64_t firstOccurrences = 8;
constexpr uint64_t lastOccurrences = 3;
constexpr uint64_t drawnOccurrences = 5;
constexpr uint32_t campaignSeed = 0x7015EED;

bool fullCampaign() {
  const char* mode = std::getenv("TOLVEX_CAMPAIGN");
  return mode != nullptr && std::string(mode) == "full";
}

// The errors each kind of call reports when it fails, taken in turn by occurrence.
const std::map<std::string, std::vector<int>>& errorsByKind() {
  static const std::map<std::string, std::vector<int>> errors = {
      {"open", {EACCES, EMFILE, EIO, ENOENT}},
      {"create", {ENOSPC, EMFILE, EACCES, EDQUOT}},
      {"mkdir", {ENOSPC, EACCES, EDQUOT, EIO}},
      {"read", {EIO}},
      {"write", {ENOSPC, EIO, EDQUOT, EFBIG}},
      {"write-stdout", {EIO, EPIPE}},
      {"close", {EIO, ENOSPC}},
      {"stat", {EIO, EACCES}},
      {"statfs", {EIO}},
      {"ioctl", {EINVAL}},
      {"remove", {EACCES, EBUSY, EIO}},
      {"rename", {EACCES}},
      {"seek", {ESPIPE, EINVAL}},
      {"limit", {EINVAL}},
      {"terminal", {ENOTTY}},
      {"alloc", {ENOMEM}},
      {"thread", {EAGAIN}},
      {"tempfile", {EACCES}},
      {"signal", {EINVAL}},
      {"poll", {EINTR}},
  };
  return errors;
}

// What the shim counted in one run: calls by kind, and the calls it made fail.
struct Counts {
  std::map<std::string, uint64_t> calls;
  std::map<std::string, uint64_t> failed;
};

Counts readCounts(const std::string& path) {
  Counts counts;
  std::string text = readFile(path);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    bool failed = line.compare(0, 7, "failed ") == 0;
    if (failed) line = line.substr(7);
    size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    (failed ? counts.failed : counts.calls)[line.substr(0, space)] =
        std::strtoull(line.c_str() + space + 1, nullptr, 10);
  }
  return counts;
}

struct CampaignRun {
  std::string faults;  // "" when every promise was kept
  Counts counts;
};

// Runs `scenario` with `fault` (none when its call is empty) in a fresh directory.
CampaignRun runScenario(const FaultScenario& scenario, const Fault& fault) {
  TempDir dir;
  const std::set<std::string> notTheRun = {"calls"};
  RunRecord record = prepareRun(scenario, notTheRun);
  record.start = banner;
  RunOptions options;
  options.terminal = scenario.terminal;
  options.timeoutSeconds = 30;
  for (const auto& [name, builder] : scenario.archives) {
    options.arguments.push_back(name);
    options.inputFromPipe = options.inputFromPipe || name == "/dev/stdin";
    if (name == "/dev/stdin") options.input = builder->build();
  }
  const std::string counted = dir / "calls";
  options.environment = {"LD_PRELOAD=" + std::string(TOLVEX_FAULT_SHIM),
                         "TOLVEX_FAULT_RECORD=" + counted};
  if (!fault.call.empty()) {
    options.environment.push_back("TOLVEX_FAULT=" + fault.call + ":" +
                                  std::to_string(fault.occurrence) +
                                  (fault.fromThereOn ? ":from" : ":once"));
    options.environment.push_back("TOLVEX_FAULT_ERRNO=" + std::to_string(fault.error));
    if (!fault.file.empty()) options.environment.push_back("TOLVEX_FAULT_NAME=" + fault.file);
  }
  Outcome outcome = runProgram(options);
  record.after = snapshotTree(".", notTheRun);
  record.output = outcome.output;
  CampaignRun run;
  run.counts = readCounts(counted);
  record.outputComplete = run.counts.failed.count("write-stdout") == 0;
  if (outcome.timedOut) run.faults += "did not end by itself\n";
  if (outcome.signal != 0) run.faults += "ended by signal " + std::to_string(outcome.signal) + "\n";
  if (outcome.status != 0 && outcome.signal == 0 && !outcome.timedOut)
    run.faults += "exit status " + std::to_string(outcome.status) + "\n";
  run.faults += checkPromises(record);
  if (!run.faults.empty()) run.faults += "output:\n" + outcome.output;
  return run;
}

// The occurrences of a kind called `count` times that the campaign fails.
std::vector<uint64_t> sampledOccurrences(uint64_t count, std::mt19937& random) {
  std::vector<uint64_t> chosen;
  if (fullCampaign() || count <= firstOccurrences + lastOccurrences + drawnOccurrences) {
    for (uint64_t n = 1; n <= count; ++n)
      chosen.push_back(n);
    return chosen;
  }
  for (uint64_t n = 1; n <= firstOccurrences; ++n)
    chosen.push_back(n);
  for (uint64_t n = count - lastOccurrences + 1; n <= count; ++n)
    chosen.push_back(n);
  std::uniform_int_distribution<uint64_t> between(firstOccurrences + 1, count - lastOccurrences);
  for (uint64_t i = 0; i < drawnOccurrences; ++i)
    chosen.push_back(between(random));
  std::sort(chosen.begin(), chosen.end());
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  return chosen;
}

struct Totals {
  uint64_t runs = 0;
  uint64_t failedCalls = 0;
  uint64_t scenarios = 0;
  std::set<std::string> kinds;
};

Totals& totals() {
  static Totals sum;
  return sum;
}

class FaultCampaign : public ::testing::TestWithParam<size_t> {};

TEST_P(FaultCampaign, KeepsEveryPromiseWhenAnyCallFails) {
  const FaultScenario& scenario = faultScenarios()[GetParam()];
  CampaignRun clean = runScenario(scenario, Fault());
  ASSERT_EQ("", clean.faults);
  ASSERT_FALSE(clean.counts.calls.empty()) << "the shim counted nothing: was it loaded?";
  int findings = 0;
  std::mt19937 random(campaignSeed);
  std::vector<Fault> faults = faultList(
      scenario, clean.counts.calls, errorsByKind(),
      [&random](uint64_t count) { return sampledOccurrences(count, random); }, false);
  for (const Fault& fault : faults) {
    CampaignRun run = runScenario(scenario, fault);
    ++totals().runs;
    for (const auto& [kind, count] : run.counts.failed) {
      totals().failedCalls += count;
      totals().kinds.insert(kind);
    }
    if (run.faults.empty()) continue;
    if (++findings <= 5)
      ADD_FAILURE() << scenario.name << ", failing " << fault.describe() << ":\n" << run.faults;
    else
      ADD_FAILURE() << scenario.name << ", failing " << fault.describe() << ": "
                    << run.faults.substr(0, run.faults.find('\n'));
  }
  ++totals().scenarios;
  EXPECT_EQ(0, findings) << "of " << faults.size() << " runs";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultCampaign,
                         ::testing::Range<size_t>(0, faultScenarios().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return faultScenarios()[info.param].testName();
                         });

// An interrupt that comes just before a FIFO is opened, whose open then waits for a writer
// that never comes, ends the program all the same: a reminder cuts the wait short. Without
// one the program waited forever.
TEST(Interrupts, OneJustBeforeAFifoIsOpenedEndsTheProgram) {
  TempDir dir;
  ASSERT_EQ(0, mkfifo("fifo", 0600));
  RunOptions options;
  options.arguments = {"fifo"};
  options.environment = {"LD_PRELOAD=" + std::string(TOLVEX_FAULT_SHIM),
                         "TOLVEX_INTERRUPT_AT=fifo"};
  options.timeoutSeconds = 5;
  Outcome run = runProgram(options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(SIGINT, run.signal);
  EXPECT_EQ(banner + "fifo\n", run.output);
}

// Every function of the C library that the program imports, as its dynamic symbol table
// lists them.
std::set<std::string> importedFunctions(const std::string& program) {
  std::set<std::string> names;
  std::string command = "nm -D --undefined-only '" + program + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    size_t start = text.find(" U ");
    if (start == std::string::npos) continue;
    std::string name = text.substr(start + 3);
    name = name.substr(0, name.find_first_of("@\n"));
    names.insert(name);
  }
  pclose(pipe);
  return names;
}

// The imports that the campaign does not fail, and why: the C++ library (whose own calls
// to the system go through the C library and are failed there), what reaches no system,
// what cannot fail or whose failure changes nothing (giving back a mapping, a hint about
// one, the page size and the processors online, counting a set of processors, a clock that
// only tells how many threads to copy on), and what only an interrupt runs (the end-to-end
// tests interrupt the program).
bool isLeftAlone(const std::string& name) {
  static const std::set<std::string> alone = {"memcmp",
                                              "memcpy",
                                              "memmove",
                                              "memset",
                                              "strlen",
                                              "strcmp",
                                              "strtod",
                                              "strtoull",
                                              "frexp",
                                              "ldexp",
                                              "sigemptyset",
                                              "__errno_location",
                                              "free",
                                              "__libc_start_main",
                                              "__gmon_start__",
                                              "pthread_mutex_lock",
                                              "pthread_mutex_unlock",
                                              "pthread_mutex_trylock",
                                              "pthread_cond_clockwait",
                                              "raise",
                                              "signal",
                                              "alarm",
                                              "munmap",
                                              "madvise",
                                              "sysconf",
                                              "__sched_cpucount",
                                              "clock_gettime",
                                              "_exit"};
  return alone.count(name) != 0 || name.compare(0, 2, "_Z") == 0 ||
         name.compare(0, 6, "__cxa_") == 0 || name.compare(0, 5, "_ITM_") == 0 ||
         name.compare(0, 8, "_Unwind_") == 0 || name == "__gxx_personality_v0";
}

// A call added to the program later must be one the campaign can fail: each function the
// program imports is either stood in for by the shim or left alone for a stated reason.
TEST(FaultCampaignCoverage, EverySystemCallOfTheProgramCanBeFailed) {
  std::set<std::string> imported = importedFunctions(programPath());
  if (imported.empty()) GTEST_SKIP() << "nm (binutils) cannot list the program's imports";
  void* shim = dlopen(TOLVEX_FAULT_SHIM, RTLD_LAZY | RTLD_LOCAL);
  ASSERT_NE(nullptr, shim) << dlerror();
  for (const std::string& name : imported) {
    if (isLeftAlone(name)) continue;
    void* found = dlsym(shim, name.c_str());
    Dl_info where = {};
    bool inShim = found != nullptr && dladdr(found, &where) != 0 &&
                  std::string(where.dli_fname).find("fault_shim") != std::string::npos;
    EXPECT_TRUE(inShim) << name << " is called by the program but cannot be failed";
  }
  dlclose(shim);
}

class CampaignReport : public ::testing::Environment {
 public:
  void TearDown() override {
    if (totals().runs == 0) return;
    std::string kinds;
    for (const std::string& kind : totals().kinds)
      kinds += (kinds.empty() ? "" : ", ") + kind;
    std::printf("suite note: %llu calls failed in %llu runs of %llu scenarios (%s)\n",
                static_cast<unsigned long long>(totals().failedCalls),
                static_cast<unsigned long long>(totals().runs),
                static_cast<unsigned long long>(totals().scenarios), kinds.c_str());
  }
};

const auto* const report = ::testing::AddGlobalTestEnvironment(new CampaignReport);

}  // namespace
}  // namespace tolvex
