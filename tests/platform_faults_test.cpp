// The archive processing run in-process while one call of the platform layer after another
// fails (failAsCounted, FaultyByteSource): every occurrence of every call that a run
// without faults makes, with each failure the call can report, on one thread and on two,
// in the fault scenarios that need no more than the processing. Runs in the sanitizer builds
// too, where a fault that corrupts memory or races shows. Each run is judged by the
// README's promises (checkPromises).

#include <errno.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/byte_source.h"
#include "archive/process_archive.h"
#include "console/console.h"
#include "disk_tree.h"
#include "fault_scenarios.h"
#include "faulty_platform.h"
#include "output_capture.h"
#include "platform/platform.h"
#include "promise_check.h"
#include "temp_dir.h"

namespace tolvex {
namespace {

struct FaultRun {
  std::string faults;
  FaultCounter counter;
  explicit FaultRun(const Fault& fault) : counter(fault) {}
};

// Processes the scenario's archives one after the other, as the driver does, in a fresh
// directory, with `threads` copying threads and the fault of `run`.
void runScenario(const FaultScenario& scenario, int threads, FaultRun& run) {
  TempDir dir;
  RunRecord record = prepareRun(scenario);
  ScriptedFileSystem files;
  failAsCounted(files, run.counter);
  {
    OutputCapture output;
    for (const auto& [name, builder] : scenario.archives) {
      printLine(name);
      Handle archive = openForReading(name);
      FileByteSource source(archive);
      FaultyByteSource faultySource(source, run.counter);
      std::vector<std::unique_ptr<FileByteSource>> sources;  // read by the copying threads
      MadeSources copySources([&] {
        sources.push_back(std::make_unique<FileByteSource>(archive));
        return std::make_unique<FaultyByteSource>(*sources.back(), run.counter);
      });
      processArchive(faultySource, &copySources, files, threads);
    }
    record.output = output.text();
  }
  record.after = snapshotTree(".");
  run.faults = checkPromises(record);
  if (!run.faults.empty()) run.faults += "output:\n" + record.output;
}

// The failures each call can tell apart, as errors of the system.
const std::map<std::string, std::vector<int>>& errorsByCall() {
  static const std::map<std::string, std::vector<int>> errors = {
      {"openRoot", {EMFILE, EIO}},
      {"openDirectory", {EMFILE, EIO}},
      {"makeDirectory", {ENOSPC, EIO}},
      {"createFile", {EMFILE, ENOSPC, EIO}},
      {"write", {ENOSPC, EIO}},
      {"identify", {EIO}},
      {"kindOf", {EIO}},
      {"removeFile", {EIO}},
      {"removeDirectory", {EIO}},
      {"close", {EIO}},
      {"read", {EIO}},
      {"view", {EIO}},
  };
  return errors;
}

std::vector<size_t> inProcessScenarios() {
  std::vector<size_t> chosen;
  for (size_t i = 0; i < faultScenarios().size(); ++i)
    if (faultScenarios()[i].runsInProcess()) chosen.push_back(i);
  return chosen;
}

class PlatformFaults : public ::testing::TestWithParam<size_t> {};

TEST_P(PlatformFaults, KeepEveryPromise) {
  const FaultScenario& scenario = faultScenarios()[GetParam()];
  for (int threads : {1, 2, 4}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    FaultRun clean{Fault()};
    runScenario(scenario, threads, clean);
    ASSERT_EQ("", clean.faults);
    const std::map<std::string, uint64_t> calls = clean.counter.counts();
    const auto every = [](uint64_t count) {
      std::vector<uint64_t> all;
      for (uint64_t n = 1; n <= count; ++n)
        all.push_back(n);
      return all;
    };
    std::vector<Fault> faults = faultList(scenario, calls, errorsByCall(), every, true);
    int findings = 0;
    for (const Fault& fault : faults) {
      FaultRun run(fault);
      runScenario(scenario, threads, run);
      if (!run.faults.empty() && ++findings <= 5)
        ADD_FAILURE() << scenario.name << ", failing " << fault.describe() << ":\n" << run.faults;
    }
    EXPECT_EQ(0, findings) << "of " << faults.size() << " runs";
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PlatformFaults, ::testing::ValuesIn(inProcessScenarios()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return faultScenarios()[info.param].testName();
                         });

}  // namespace
}  // namespace tolvex
