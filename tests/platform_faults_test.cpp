// The archive processing run in-process while one call of the platform layer after another
// fails (FaultyFileSystem, FaultyByteSource): every occurrence of every call that a run
// without faults makes, with each failure the call can report, on one thread and on two.
// Runs in the sanitizer builds too, where a fault that corrupts memory or races shows. Each
// run is judged by the README's promises (checkPromises).

#include <gtest/gtest.h>

#include <functional>
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
#include "test_files.h"

namespace tolvex {
namespace {

struct Scenario {
  const char* name;
  std::vector<std::pair<std::string, std::string>> archives;  // file name, bytes
  std::function<void()> setUp = [] {};
};

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> all = [] {
    std::vector<Scenario> list;
    list.push_back({"fresh", {{"mixed.asar", mixedArchive()}}});
    list.push_back(
        {"over an existing tree", {{"mixed.asar", mixedArchive()}}, fillOutputDirectory});
    list.push_back(
        {"two archives", {{"mixed.asar", mixedArchive()}, {"second.asar", secondArchive()}}});
    return list;
  }();
  return all;
}

struct FaultRun {
  std::string faults;
  FaultCounter counter;
  explicit FaultRun(const PlatformFault& fault) : counter(fault) {}
};

// Processes the scenario's archives one after the other, as the driver does, in a fresh
// directory, with `fault`.
void runScenario(const Scenario& scenario, bool twoThreads, FaultRun& run) {
  TempDir dir;
  RunRecord record;
  for (const auto& [name, bytes] : scenario.archives) {
    writeFile(name, bytes);
    record.arguments.push_back({name, bytes});
  }
  scenario.setUp();
  record.before = snapshotTree(".");
  FaultyFileSystem files(run.counter);
  {
    OutputCapture output;
    for (const auto& [name, bytes] : scenario.archives) {
      printLine(name);
      Handle archive = openForReading(name);
      FileByteSource source(archive);
      FaultyByteSource faultySource(source, run.counter);
      FaultySources copySources(archive, run.counter);
      processArchive(faultySource, &copySources, files, twoThreads ? 2 : 1);
    }
    record.output = output.text();
  }
  record.after = snapshotTree(".");
  run.faults = checkPromises(record);
  if (!run.faults.empty()) run.faults += "output:\n" + record.output;
}

// What each call reports when it fails: every failure it can tell apart.
std::vector<FsStatus> failuresOf(PlatformCall call) {
  switch (call) {
    case PlatformCall::OpenRoot:
    case PlatformCall::OpenDirectory:
      return {FsStatus::NoDescriptors, FsStatus::Failed};
    case PlatformCall::MakeDirectory:
      return {FsStatus::NoSpace, FsStatus::Failed};
    case PlatformCall::CreateFile:
      return {FsStatus::NoDescriptors, FsStatus::NoSpace, FsStatus::Failed};
    case PlatformCall::Write:
      return {FsStatus::NoSpace, FsStatus::Failed};
    default:
      return {FsStatus::Failed};
  }
}

class PlatformFaults : public ::testing::TestWithParam<size_t> {};

TEST_P(PlatformFaults, KeepEveryPromise) {
  const Scenario& scenario = scenarios()[GetParam()];
  for (bool twoThreads : {false, true}) {
    SCOPED_TRACE(twoThreads ? "two threads" : "one thread");
    FaultRun clean{PlatformFault()};
    runScenario(scenario, twoThreads, clean);
    ASSERT_EQ("", clean.faults);
    std::vector<PlatformFault> faults;
    for (int call = 0; call < platformCallCount; ++call) {
      PlatformCall kind = static_cast<PlatformCall>(call);
      for (uint64_t n = 1; n <= clean.counter.count(kind); ++n) {
        for (FsStatus status : failuresOf(kind))
          faults.push_back({kind, n, false, "", status});
        if (kind == PlatformCall::Write) faults.push_back({kind, n, true, "", FsStatus::NoSpace});
      }
    }
    for (const auto& [name, bytes] : scenario.archives)
      for (const std::string& file : fileNames(bytes))
        for (uint64_t n : {1, 2})
          faults.push_back({PlatformCall::Write, n, true, file, FsStatus::NoSpace});
    int findings = 0;
    for (const PlatformFault& fault : faults) {
      FaultRun run(fault);
      runScenario(scenario, twoThreads, run);
      if (!run.faults.empty() && ++findings <= 5)
        ADD_FAILURE() << scenario.name << ", failing " << fault.describe() << ":\n" << run.faults;
    }
    EXPECT_EQ(0, findings) << "of " << faults.size() << " runs";
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PlatformFaults, ::testing::Range<size_t>(0, scenarios().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           std::string name = scenarios()[info.param].name;
                           for (char& c : name)
                             if (c == ' ') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace tolvex
