// Writes the fuzzers' seed corpora: small argument texts for fuzz_extraction_run and small
// archives for fuzz_zip_extractor, each a case the fuzzers should start from. The output is kept
// in the repository; run this again only to change the seeds:
//   build-fuzz/fuzz/make_fuzz_seeds fuzz/corpus

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/posix/zip_builder.h"

namespace {

using zipdrop::testing::LibarchiveFile;
using zipdrop::testing::ZipBuilder;
using zipdrop::testing::ZipEntrySpec;

// The first three bytes of an extraction-run input: byte 0 is separator (bit 0), UTF-16 code
// units (bit 1), the spelling of "Temp" (bits 2-3) and the "Temp" value (bits 4-7); byte 1 is
// the failing call (0x7F: none); byte 2 the program folder.
std::string RunInput(std::uint8_t choice, const std::string& text, std::uint8_t failCall = 0x7F,
                     std::uint8_t folder = 0) {
  return std::string{static_cast<char>(choice), static_cast<char>(failCall),
                     static_cast<char>(folder)} +
         text;
}

std::string CodeUnits(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

void WriteRunSeeds(const std::string& folder) {
  constexpr std::uint8_t kWindows = 0x00, kPosixTmp = 0x11, kUnc = 0x70, kUnits = 0x02;
  const std::vector<std::pair<std::string, std::string>> seeds = {
      {"quoted_path", RunInput(kWindows, "\"C:\\data\\photos.zip\"")},
      {"two_quoted_paths", RunInput(kWindows, "\"C:\\data\\a.zip\" \"C:\\data\\b.zip\"")},
      {"empty_quotes", RunInput(kWindows, "\"\"")},
      {"only_extension", RunInput(kWindows, ".zip")},
      {"dotted_folders", RunInput(kWindows, "C:\\Users\\john.smith\\.cache\\archive.tar.zip")},
      {"posix_japanese", RunInput(kPosixTmp, "\"/home/u/写真 2024.zip\"", 0x7F, 1)},
      {"japanese_upper", RunInput(kWindows, "\"C:\\ユーザー\\資料.ZIP\"")},
      {"not_zip", RunInput(kWindows, "\"C:\\data\\notes.txt\"")},
      {"no_dot", RunInput(kWindows, "a")},
      {"failing_call", RunInput(kWindows, "\"C:\\data\\photos.zip\"", 5)},
      {"lone_surrogate", RunInput(kUnits, CodeUnits(u"\"C:\\a\xD800.zip\""))},
      {"usage", RunInput(kWindows, "")},
      {"unc_path", RunInput(kUnc, "\\\\server\\share\\x.zip", 0x7F, 3)},
      {"forward_slashes", RunInput(kWindows, "C:/data/x.zip")},
  };
  for (const auto& [name, bytes] : seeds) ZipBuilder::WriteBytes(folder + "/" + name, bytes);
}

// Archives that the byte-by-byte writer makes, each with one kind of entry or one lie in it.
std::vector<std::pair<std::string, ZipBuilder>> BuiltArchives() {
  std::vector<std::pair<std::string, ZipBuilder>> archives(12);
  auto add = [&](size_t i, const char* name) -> ZipBuilder& {
    archives[i].first = name;
    return archives[i].second;
  };
  add(0, "stored").AddFile("hello.txt", "hello");
  add(1, "nested").AddFolder("a/").AddFolder("a/b/").AddFile("a/b/c.txt", "c").AddFile("x/y/z", "");
  add(2, "cp932_name").Add({.name = "\x93\xfa\x96\x7b\x8c\xea.txt", .data = "cp932"});
  add(3, "utf8_names")
      .Add({.name = "日本語/ファイル.txt", .data = "u", .flags = zipdrop::testing::kFlagUtf8})
      .Add({.name = "\x8e\xca\x90\x5e.jpg", .data = "p", .unicodePath = "写真.jpg"});
  add(4, "symlink").AddSymlink("link", "/etc").AddFile("link/passwd", "x").AddSymlink("up", "..");
  add(5, "traversal")
      .AddFile("../evil.txt", "e").AddFile("/abs.txt", "a").AddFile("a/../../b.txt", "b")
      .AddFile("C:\\win.txt", "w").AddFile("..\\back.txt", "k").AddFile("./ok.txt", "ok");
  add(6, "bad_crc_and_size")
      .Add({.name = "crc.txt", .data = "data", .crc = 1})
      .Add({.name = "long.txt", .data = "short", .size = 1000});
  add(7, "header_mismatch")
      .Add({.name = "central.txt", .data = "c", .localName = "../local.txt"})
      .Add({.name = "m64.bin", .data = "zz", .method = zipdrop::testing::kMethodDeflate64});
  add(8, "special_files")
      .Add({.name = "fifo", .unixMode = 010644})
      .Add({.name = "device", .unixMode = 020644})
      .Add({.name = "encrypted", .data = "x", .flags = zipdrop::testing::kFlagEncrypted});
  add(9, "duplicates").AddFile("same", "1").AddFile("same", "2").AddFolder("same/").AddFile("d", "")
      .AddFolder("d/");
  add(10, "modes_and_times")
      .AddFolder("ro/", 040555).AddFile("ro/f", "x", 0100000).AddFolder("closed/", 040000)
      .Add({.name = "old.txt", .data = "t", .mtime = 86400});
  add(11, "empty");
  return archives;
}

void WriteArchiveSeeds(const std::string& folder) {
  for (const auto& [name, builder] : BuiltArchives()) builder.WriteTo(folder + "/" + name + ".zip");
  std::string repeated(4000, 'a');
  zipdrop::testing::WriteLibarchiveZip(folder + "/deflated.zip",
                                       {{"a.txt", repeated}, {"dir/b.txt", "bbbbbbbbbbbb"}});
  zipdrop::testing::WriteLibarchiveZip(folder + "/zipcrypto.zip", {{"secret.txt", "secret"}},
                                       "zip:encryption=traditional", "password");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder holding extraction_run/ and zip_extractor/>\n",
                 argv[0]);
    return 2;
  }
  std::string corpus = argv[1];
  try {
    WriteRunSeeds(corpus + "/extraction_run");
    WriteArchiveSeeds(corpus + "/zip_extractor");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
