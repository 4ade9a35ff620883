// tolvex_fuzz_seeds <directory>: writes the seed archives of the archive fuzz targets
// (fuzz/corpus/read_header and fuzz/corpus/process_archive), one file per seed, all made
// with the test archive builder: the hostile-test samples, ordinary trees, every entry-name
// and number form the extraction treats specially, and prefixes that are odd or broken.

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "archive_builder.h"
#include "sample_archives.h"
#include "test_files.h"

namespace tolvex {
namespace {

using Seeds = std::vector<std::pair<std::string, std::string>>;

// An archive whose header's "files" member is the JSON text `files`, over `data`.
std::string withFiles(const std::string& files, const std::string& data = "0123456789abcdef") {
  return archiveFromHeader("{\"files\":" + files + "}", data);
}

std::string fileEntry(const std::string& key, const std::string& offset, const std::string& size) {
  return jsonQuoted(key) + ":{\"offset\":" + jsonQuoted(offset) + ",\"size\":" + size + "}";
}

void addTrees(Seeds& seeds) {
  for (const SampleArchive& sample : sampleArchives())
    seeds.emplace_back(sample.name, sample.builder.build());

  ArchiveBuilder single;
  single.addFile("f", "hello");
  seeds.emplace_back("single_file", single.build());

  ArchiveBuilder many;
  for (int i = 0; i < 20; ++i)
    many.addFile("f" + std::to_string(100 + i), std::string(size_t(i), char('a' + i)));
  seeds.emplace_back("many_files", many.build());

  ArchiveBuilder chunks;
  chunks.addFile("exactly_1024", std::string(1024, 'x'));
  chunks.addFile("then_1025", std::string(1025, 'y'));
  seeds.emplace_back("chunk_edges", chunks.build());

  std::string deep;
  for (int i = 0; i < 40; ++i)
    deep += "d/";
  ArchiveBuilder deepTree;
  deepTree.addFile(deep + "f", "bottom");
  seeds.emplace_back("deep_directories", deepTree.build());

  ArchiveBuilder names;
  for (const char* name : {"...", " ", "-rf", ".hidden", "\xC3\xA9t\xC3\xA9", "\xE6\x97\xA5",
                           "\xFF\xFE", "\xC3", "\x1B[31mred\x1B[0m", "bell\x07", "tab\there"})
    names.addFile(name, name);
  seeds.emplace_back("odd_but_plain_names", names.build());
}

void addUnsafeNames(Seeds& seeds) {
  const std::pair<const char*, std::string> keys[] = {
      {"dot_dot", ".."}, {"dot_dot_x", "../x"}, {"climbs", "a/../../x"},
      {"slash", "a/b"},  {"absolute", "/etc"},  {"empty", ""},
      {"dot", "."},      {"backslash", "a\\b"}, {"zero_byte", std::string("a\0b", 3)},
  };
  for (const auto& [name, key] : keys) {
    seeds.emplace_back("unsafe_file_" + std::string(name),
                       withFiles("{" + fileEntry(key, "0", "3") + "}"));
    seeds.emplace_back(
        "unsafe_directory_" + std::string(name),
        withFiles("{" + jsonQuoted(key) + ":{\"files\":{" + fileEntry("f", "0", "3") + "}}}"));
  }
}

void addNumberForms(Seeds& seeds) {
  const std::pair<const char*, const char*> sizes[] = {
      {"real", "10.9"},
      {"negative", "-1"},
      {"beyond_32_bits", "5E9"},
      {"real_2_32", "4294967296.5"},
      {"huge_exponent", "1E2147483647"},
      {"negative_exponent", "1E-2147483648"},
      {"negative_real", "-0.5"},
      {"infinite", "1.0E400"},
  };
  for (const auto& [name, size] : sizes)
    seeds.emplace_back(std::string("size_") + name,
                       withFiles("{" + fileEntry("f", "0", size) + "}"));
  const std::pair<const char*, const char*> offsets[] = {
      {"spaces", " 3"},     {"plus", "+1"},    {"minus", "-1"},
      {"junk", "1x"},       {"no_digits", ""}, {"huge", "99999999999999999999999"},
      {"past_end", "1000"},
  };
  for (const auto& [name, offset] : offsets)
    seeds.emplace_back(std::string("offset_") + name,
                       withFiles("{" + fileEntry("f", offset, "4") + "}"));
}

void addHeaderShapes(Seeds& seeds) {
  seeds.emplace_back("overlapping_entries", withFiles("{" + fileEntry("a", "2", "8") + "," +
                                                      fileEntry("b", "0", "16") + "}"));
  seeds.emplace_back("file_with_files",
                     withFiles("{\"f\":{\"offset\":\"1\",\"size\":2,\"files\":{" +
                               fileEntry("inner", "0", "1") + "}}}"));
  seeds.emplace_back("files_array", withFiles("{\"d\":{\"files\":[1,2]}}"));
  seeds.emplace_back("duplicate_keys", withFiles("{" + fileEntry("k", "0", "1") + "," +
                                                 fileEntry("k", "1", "2") + "}"));
  seeds.emplace_back("escaped_keys",
                     withFiles("{\"\\u00e9\\u0041\":{\"offset\":\"0\",\"size\":2}}"));
  seeds.emplace_back(
      "trailing_whitespace",
      archiveFromHeader("{\"files\":{" + fileEntry("f", "0", "2") + "}} \t\r\n", "ab"));
  seeds.emplace_back("trailing_junk", archiveFromHeader("{\"files\":{}} x"));
  seeds.emplace_back("trailing_zero_byte", archiveFromHeader(std::string("{\"files\":{}}\0", 13)));
  seeds.emplace_back("root_array", archiveFromHeader("[1]"));
  seeds.emplace_back("root_null", archiveFromHeader("null"));
  seeds.emplace_back("no_files", archiveFromHeader("{}"));
  seeds.emplace_back("empty_files", archiveFromHeader("{\"files\":{}}"));
  std::string nested = "{\"offset\":\"0\",\"size\":1,\"x\":[]}";
  for (int level = 0; level < 510; ++level)
    nested = "{\"files\":{\"d\":" + nested + "}}";
  seeds.emplace_back("deepest_nesting",
                     archiveFromHeader("{\"files\":{\"d\":" + nested + "}}", "z"));
}

void addPrefixes(Seeds& seeds) {
  const std::string header = "{\"files\":{" + fileEntry("f", "0", "2") + "}}";
  seeds.emplace_back("no_padding", archiveFromHeader(header, "", false));
  seeds.emplace_back("smallest_prefix", le32({4, 8, 4, 0}));
  seeds.emplace_back("big_endian_prefix",
                     std::string("\0\0\0\4\0\0\0\x10\0\0\0\x0C\0\0\0\x0B", 16) + "{\"files\":{}}");
  seeds.emplace_back("text_length_4294967295", le32({4, 8, 4, 0xFFFFFFFF}) + header);
  seeds.emplace_back("sums_beyond_32_bits", le32({4, 0xFFFFFFF8, 0xFFFFFFF4, 0xFFFFFFF0}) + header);
  seeds.emplace_back("cut_prefix", le32({4, 8}));
  std::string longer = archiveFromHeader(header + "   ");
  seeds.emplace_back("text_longer_than_file", longer.substr(0, longer.size() - 6));
}

}  // namespace
}  // namespace tolvex

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tolvex_fuzz_seeds <directory>\n");
    return 2;
  }
  tolvex::Seeds seeds;
  tolvex::addTrees(seeds);
  tolvex::addUnsafeNames(seeds);
  tolvex::addNumberForms(seeds);
  tolvex::addHeaderShapes(seeds);
  tolvex::addPrefixes(seeds);
  for (const auto& [name, bytes] : seeds)
    tolvex::writeFile(std::string(argv[1]) + "/" + name + ".asar", bytes);
  std::printf("%zu seeds\n", seeds.size());
  return 0;
}
