// The whole program on archives with large headers, timed as a process, next to RapidJSON's
// in-process parse of the same header text, timed in the same run.
//
//   build/bench/tolvex_whole_bench [--tolvex=PATH | --tolvex=NAME=PATH ...]
//                                    [--entries=75000,150000,300000,600000] [--runs=N]
//                                    [--scratch=DIR]
//
// The archives: a header whose "files" object holds all entries at its top level, keys in
// ascending order (as archives are packed), each entry an object with a numeric "size", a
// numeric "offset" and, for one in ten, "executable": true; about 66 bytes of text per
// entry, so 300,000 entries make about 20 MB. An entry whose offset is not a string is not a
// file: the walk visits every entry, looks up its members and makes nothing, and no
// directory is made below ./tolvex. So the time is that of starting the program, reading
// the prefix and the header text, parsing it, walking every entry and releasing the tree.
//
// Each run of a series runs, in turn, RapidJSON's parse of the text in this process (from
// the text in memory to a complete document; the document is destroyed outside the clock)
// and each tolvex build as a process of its own (from spawning it to its exit, standard
// output to /dev/null). The table gives the best of the runs for each. Peak resident
// memory comes from GNU time (/usr/bin/time -v) around one more run of each build, its
// "Maximum resident set size": the process's own peak, measured the way a user would.
// Numbers are MB = 10^6 bytes, memory in MiB.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive_builder.h"

#ifdef TOLVEX_HAVE_RAPIDJSON
#include <rapidjson/document.h>
#endif

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Build {
  std::string name;
  std::string path;
};

// A flat "files" object of `entries` entries, keys ascending; see the top of the file.
std::string makeHeader(size_t entries) {
  std::mt19937 random(12);
  const char* const stems[] = {"index",   "package", "README",   "LICENSE", "component", "utils",
                               "helpers", "core",    "polyfill", "parser",  "lexer",     "plugin",
                               "browser", "node",    "types",    "schema"};
  const char* const suffixes[] = {".js", ".json", ".d.ts", ".md", ".map", ".cjs", ".mjs", ""};
  std::vector<std::string> keys;
  keys.reserve(entries);
  for (size_t i = 0; i < entries; ++i) {
    char key[64];
    std::snprintf(key, sizeof key, "%s-%07zu.%06x%s", stems[random() % 16], i,
                  unsigned(random() & 0xFFFFFF), suffixes[random() % 8]);
    keys.emplace_back(key);
  }
  std::sort(keys.begin(), keys.end());
  std::string text = "{\"files\":{";
  text.reserve(entries * 70);
  uint64_t offset = 0;
  for (size_t i = 0; i < entries; ++i) {
    uint32_t size = random() % 40000;
    char entry[160];
    std::snprintf(entry, sizeof entry, "%s\"%s\":{\"size\":%u,\"offset\":%llu%s}", i ? "," : "",
                  keys[i].c_str(), size, (unsigned long long)offset,
                  random() % 10 == 0 ? ",\"executable\":true" : "");
    text += entry;
    offset += size;
  }
  text += "}}";
  return text;
}

bool writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

// Runs `arguments` in `directory` with standard output and error to /dev/null; returns the
// seconds from the spawn to the exit, or a negative number when it could not run or failed.
double runTimed(const std::vector<std::string>& arguments, const std::string& directory) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string here(4096, '\0');
  if (!getcwd(here.data(), here.size()) || chdir(directory.c_str()) != 0) return -1;
  Clock::time_point start = Clock::now();
  pid_t child = 0;
  int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  int status = 0;
  bool ok = spawned == 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
            WEXITSTATUS(status) == 0;
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  if (chdir(here.c_str()) != 0) return -1;
  return ok ? seconds : -1;
}

// The peak resident memory of `program` on `archive` in KiB, as GNU time reports it; -1
// when GNU time is not there.
long peakKiB(const std::string& program, const std::string& archive, const std::string& directory) {
  const std::string report = directory + "/time-v.txt";
  std::string command = "cd '" + directory + "' && /usr/bin/time -v -o '" + report + "' '" +
                        program + "' '" + archive + "' > /dev/null 2>&1";
  if (access("/usr/bin/time", X_OK) != 0 || std::system(command.c_str()) != 0) return -1;
  std::FILE* file = std::fopen(report.c_str(), "r");
  if (!file) return -1;
  long kib = -1;
  char line[256];
  while (std::fgets(line, sizeof line, file))
    if (std::sscanf(line, " Maximum resident set size (kbytes): %ld", &kib) == 1) break;
  std::fclose(file);
  return kib;
}

#ifdef TOLVEX_HAVE_RAPIDJSON
// Seconds for one parse of `text` into a RapidJSON document; negative when it fails.
double rapidjsonSeconds(const std::string& text) {
  auto* document = new rapidjson::Document;
  Clock::time_point start = Clock::now();
  document->Parse(text.data(), text.size());
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  bool failed = document->HasParseError() || !document->IsObject();
  delete document;
  return failed ? -1 : seconds;
}
#endif

std::vector<size_t> parseCounts(const char* list) {
  std::vector<size_t> counts;
  for (const char* p = list; *p;) {
    char* end = nullptr;
    counts.push_back(std::strtoul(p, &end, 10));
    p = *end == ',' ? end + 1 : end;
    if (end == p && *p) break;
  }
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Build> builds;
  std::vector<size_t> counts = {75000, 150000, 300000, 600000};
  int runs = 7;
  std::string scratch =
      std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/tolvex-whole-bench";
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strncmp(arg, "--tolvex=", 9) == 0) {
      std::string value = arg + 9;
      size_t equals = value.find('=');
      if (equals == std::string::npos)
        builds.push_back({"tolvex", value});
      else
        builds.push_back({value.substr(0, equals), value.substr(equals + 1)});
    } else if (std::strncmp(arg, "--entries=", 10) == 0) {
      counts = parseCounts(arg + 10);
    } else if (std::strncmp(arg, "--runs=", 7) == 0) {
      runs = std::max(1, std::atoi(arg + 7));
    } else if (std::strncmp(arg, "--scratch=", 10) == 0) {
      scratch = arg + 10;
    } else {
      std::fprintf(stderr, "unknown argument: %s\n", arg);
      return 2;
    }
  }
  if (builds.empty()) builds.push_back({"tolvex", "build/bench/tolvex"});
  for (Build& build : builds) {
    char resolved[4096];
    if (!realpath(build.path.c_str(), resolved)) {
      std::fprintf(stderr, "no program at %s\n", build.path.c_str());
      return 2;
    }
    build.path = resolved;
  }
  mkdir(scratch.c_str(), 0777);

#ifndef TOLVEX_HAVE_RAPIDJSON
  std::printf("RapidJSON is not installed (rapidjson-dev): its column is left empty.\n");
#endif
  std::printf("Best of %d runs; whole program from spawn to exit; MB = 10^6 bytes.\n", runs);
  std::printf("%-10s %8s %9s %-12s %10s %10s %6s %10s %7s\n", "entries", "header", "rapid", "build",
              "tolvex", "tolvex", "ratio", "peak RSS", "RSS /");
  std::printf("%-10s %8s %9s %-12s %10s %10s %6s %10s %7s\n", "", "MB", "MB/s", "", "ms", "MB/s",
              "", "MiB", "text");
  for (size_t count : counts) {
    const std::string text = makeHeader(count);
    const std::string archive = scratch + "/whole-" + std::to_string(count) + ".asar";
    const std::string directory = scratch + "/run-" + std::to_string(count);
    mkdir(directory.c_str(), 0777);
    if (!writeFile(archive, tolvex::archiveFromHeader(text))) {
      std::fprintf(stderr, "cannot write %s\n", archive.c_str());
      return 1;
    }
    const double megabytes = text.size() / 1e6;
    [[maybe_unused]] double bestRapid = 1e9;
    std::vector<double> best(builds.size(), 1e9);
    for (int run = 0; run < runs + 1; ++run) {  // the first round warms up, untimed
#ifdef TOLVEX_HAVE_RAPIDJSON
      double rapid = rapidjsonSeconds(text);
      if (rapid < 0) {
        std::fprintf(stderr, "RapidJSON failed to parse the header\n");
        return 1;
      }
      if (run > 0) bestRapid = std::min(bestRapid, rapid);
#endif
      for (size_t b = 0; b < builds.size(); ++b) {
        double seconds = runTimed({builds[b].path, archive}, directory);
        if (seconds < 0) {
          std::fprintf(stderr, "%s failed on %s\n", builds[b].path.c_str(), archive.c_str());
          return 1;
        }
        if (run > 0) best[b] = std::min(best[b], seconds);
      }
    }
    for (size_t b = 0; b < builds.size(); ++b) {
      long kib = peakKiB(builds[b].path, archive, directory);
      double rate = megabytes / best[b];
      char rapid[32] = "-", ratio[32] = "-", peak[32] = "-", perText[32] = "-";
#ifdef TOLVEX_HAVE_RAPIDJSON
      std::snprintf(rapid, sizeof rapid, "%.0f", megabytes / bestRapid);
      std::snprintf(ratio, sizeof ratio, "%.2f", rate / (megabytes / bestRapid));
#endif
      if (kib >= 0) {
        std::snprintf(peak, sizeof peak, "%.1f", kib / 1024.0);
        std::snprintf(perText, sizeof perText, "%.2f", kib * 1024.0 / text.size());
      }
      std::printf("%-10zu %8.1f %9s %-12s %10.1f %10.0f %6s %10s %7s\n", count, megabytes, rapid,
                  builds[b].name.c_str(), best[b] * 1e3, rate, ratio, peak, perText);
    }
    std::fflush(stdout);
  }
  return 0;
}
