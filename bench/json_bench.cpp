// Parsing speed and memory of the header parser on a large generated header, side by side with
// nlohmann::json and RapidJSON when they are installed.
//
//   build/release/tolvex_json_bench [--entries=N] [benchmark flags]
//
// Before the timed runs, each parser parses the text once in a child process of its own, and
// the child's peak resident memory above that of a child that only reads the text is printed.
// A tolvex document keeps a copy of the text it parses (its keys and strings view it), which
// the timed parse makes and tolvex's memory figure includes; in the program the header is
// read straight into the document instead.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "json/json_parser.h"
#include "json/json_value.h"

#ifdef TOLVEX_HAVE_NLOHMANN
#include <nlohmann/json.hpp>
#endif
#ifdef TOLVEX_HAVE_RAPIDJSON
#include <rapidjson/document.h>
#endif

namespace {

size_t entryCount = 300000;

// A header as an archive of a large package tree has: nested directories of files with
// names of 16 to 40 bytes, a numeric size and a decimal offset text per file; some files are
// executable. 300,000 files make about 25 MB of text.
std::string makeHeader(size_t files) {
  std::mt19937 random(42);
  const char* const stems[] = {"index",     "package", "README",  "LICENSE",
                               "component", "utils",   "helpers", "runtime-core",
                               "polyfill",  "parser",  "lexer",   "transform-plugin",
                               "browser",   "node",    "types",   "schema"};
  const char* const suffixes[] = {".js", ".json", ".d.ts", ".md", ".map", ".cjs", ".mjs", ""};
  std::string text;
  text.reserve(files * 90);
  uint64_t offset = 0;
  size_t made = 0;
  // Depth-first: each directory holds up to 24 files and up to 5 subdirectories.
  std::function<void(int)> directory = [&](int depth) {
    text += "{\"files\":{";
    bool first = true;
    size_t here = 4 + random() % 21;
    for (size_t i = 0; i < here && made < files; ++i, ++made) {
      if (!first) text += ',';
      first = false;
      uint32_t size = random() % 20000;
      char entry[160];
      std::snprintf(entry, sizeof entry,
                    "\"%s-%zu.%08x%08x%s\":{\"size\":%u,\"offset\":\"%llu\"%s}",
                    stems[random() % 16], made, unsigned(random()), unsigned(random()),
                    suffixes[random() % 8], size, (unsigned long long)offset,
                    random() % 10 == 0 ? ",\"executable\":true" : "");
      text += entry;
      offset += size;
    }
    size_t subdirectories = depth < 6 ? 1 + random() % 5 : 0;
    for (size_t i = 0; i < subdirectories && made < files; ++i) {
      if (!first) text += ',';
      first = false;
      char key[48];
      std::snprintf(key, sizeof key, "\"%s-dir-%zu\":", stems[random() % 16], made);
      text += key;
      directory(depth + 1);
    }
    text += "}}";
  };
  text += "{\"files\":{";
  size_t top = 0;
  while (made < files) {
    if (top) text += ',';
    text += "\"package-" + std::to_string(top++) + "\":";
    directory(1);
  }
  text += "}}";
  return text;
}

const std::string& header() {
  static const std::string text = makeHeader(entryCount);
  return text;
}

// Visits every member of every object in key order; returns the number of members.
size_t walk(const tolvex::JsonValue& value) {
  if (value.kind != tolvex::JsonKind::Object) return 0;
  const auto& object = static_cast<const tolvex::JsonObject&>(value);
  size_t visited = object.memberCount();
  for (uint32_t i = 0; i < object.memberCount(); ++i) {
    benchmark::DoNotOptimize(object.memberKey(i).size());
    visited += walk(object.memberValue(i));
  }
  return visited;
}

// Each timed parse starts from a settled heap: the previous tree is released, and the
// allocator's consolidation of the chunks it freed (which glibc defers to the next large
// request) is done, while the clock is stopped.
void settleHeap() {
  void* large = std::malloc(64 * 1024);
  benchmark::DoNotOptimize(large);
  std::free(large);
}

template <class Document, class Parse>
void timeParse(benchmark::State& state, Parse parse) {
  for (auto _ : state) {
    auto document = std::make_unique<Document>();
    parse(*document);
    benchmark::DoNotOptimize(document.get());
    state.PauseTiming();
    document.reset();
    settleHeap();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations() * header().size()));
}

void tolvexParse(benchmark::State& state) {
  timeParse<tolvex::JsonDocument>(state, [&](tolvex::JsonDocument& document) {
    if (!tolvex::parseDocument(header(), document)) state.SkipWithError("parse failed");
  });
}
BENCHMARK(tolvexParse)->Unit(benchmark::kMillisecond);

void tolvexRelease(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    tolvex::JsonDocument document;
    tolvex::parseDocument(header(), document);
    state.ResumeTiming();
    document.reset();
  }
}
BENCHMARK(tolvexRelease)->Unit(benchmark::kMillisecond);

void tolvexParseAndWalk(benchmark::State& state) {
  timeParse<tolvex::JsonDocument>(state, [&](tolvex::JsonDocument& document) {
    tolvex::parseDocument(header(), document);
    state.counters["members"] = double(walk(*document.root()));
  });
}
BENCHMARK(tolvexParseAndWalk)->Unit(benchmark::kMillisecond);

void tolvexWalk(benchmark::State& state) {
  tolvex::JsonDocument document;
  tolvex::parseDocument(header(), document);
  for (auto _ : state)
    benchmark::DoNotOptimize(walk(*document.root()));
}
BENCHMARK(tolvexWalk)->Unit(benchmark::kMillisecond);

#ifdef TOLVEX_HAVE_NLOHMANN
size_t walkNlohmann(const nlohmann::json& value) {
  if (!value.is_object()) return 0;
  size_t visited = value.size();
  for (auto& member : value.items()) {
    benchmark::DoNotOptimize(member.key().size());
    visited += walkNlohmann(member.value());
  }
  return visited;
}

void nlohmannParse(benchmark::State& state) {
  timeParse<nlohmann::json>(state, [&](nlohmann::json& document) {
    document = nlohmann::json::parse(header(), nullptr, false);
  });
}
BENCHMARK(nlohmannParse)->Unit(benchmark::kMillisecond);

void nlohmannParseAndWalk(benchmark::State& state) {
  timeParse<nlohmann::json>(state, [&](nlohmann::json& document) {
    document = nlohmann::json::parse(header(), nullptr, false);
    benchmark::DoNotOptimize(walkNlohmann(document));
  });
}
BENCHMARK(nlohmannParseAndWalk)->Unit(benchmark::kMillisecond);
#endif

#ifdef TOLVEX_HAVE_RAPIDJSON
void rapidjsonParse(benchmark::State& state) {
  timeParse<rapidjson::Document>(state, [&](rapidjson::Document& document) {
    document.Parse(header().data(), header().size());
  });
}
BENCHMARK(rapidjsonParse)->Unit(benchmark::kMillisecond);
#endif

// Peak resident memory of a child that runs `work` on the text, in KiB.
long childPeakKiB(const std::function<void()>& work) {
  pid_t child = fork();
  if (child == 0) {
    work();
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return -1;
  return usage.ru_maxrss;
}

void reportPeakMemory() {
  const std::string& text = header();
  long base = childPeakKiB([&] {
    size_t sum = 0;
    for (char c : text)
      sum += size_t(c);
    benchmark::DoNotOptimize(sum);
  });
  std::printf("Header: %zu entries, %.1f MB of text\n", entryCount, text.size() / 1e6);
  std::printf("Peak memory above the text (MiB):\n");
  auto report = [&](const char* name, const std::function<void()>& work) {
    std::printf("  %-10s %8.1f\n", name, (childPeakKiB(work) - base) / 1024.0);
  };
  report("tolvex", [&] {
    tolvex::JsonDocument document;
    tolvex::parseDocument(text, document);
    benchmark::DoNotOptimize(walk(*document.root()));
  });
#ifdef TOLVEX_HAVE_NLOHMANN
  report("nlohmann", [&] {
    nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    benchmark::DoNotOptimize(walkNlohmann(document));
  });
#else
  std::printf("  nlohmann   not installed (nlohmann-json3-dev): skipped\n");
#endif
#ifdef TOLVEX_HAVE_RAPIDJSON
  report("rapidjson", [&] {
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    benchmark::DoNotOptimize(document.HasParseError());
  });
#else
  std::printf("  rapidjson  not installed (rapidjson-dev): skipped\n");
#endif
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--entries=", 10) == 0)
      entryCount = std::strtoul(argv[i] + 10, nullptr, 10);
  }
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i)
    if (std::strncmp(argv[i], "--entries=", 10) != 0) rest.push_back(argv[i]);
  int restCount = int(rest.size());
  reportPeakMemory();
  benchmark::Initialize(&restCount, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
