#include "platform/posix/extractor/entry_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zipdrop {
namespace {

struct DecodeCase {
  const char* label;
  std::string bytes;
  std::string expected;
};

class DecodeEntryNameTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeEntryNameTest, PicksTheFirstCharsetThatFitsTheWholeName) {
  EXPECT_EQ(DecodeEntryName(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, DecodeEntryNameTest,
    testing::Values(
        DecodeCase{"Ascii", "dir/file.txt", "dir/file.txt"},
        DecodeCase{"Utf8", "日本語/テスト.txt", "日本語/テスト.txt"},
        DecodeCase{"Cp932", "\x93\xfa\x96\x7b\x8c\xea\x83\x74\x83\x48\x83\x8b\x83\x5f/"
                            "\x83\x65\x83\x58\x83\x67.txt",
                   "日本語フォルダ/テスト.txt"},
        // The second bytes of ソ and 表 are 0x5C, a backslash in ASCII: decoding must come first.
        DecodeCase{"Cp932TrailBackslash", "\x83\x5c\x83\x74\x83\x67\\\x95\x5c.txt",
                   "ソフト\\表.txt"},
        DecodeCase{"Cp437", "\x80" "a\x9a.txt", "ÇaÜ.txt"},
        DecodeCase{"NeitherUtf8NorCp932", "\xff\xfe\x80", "\u00a0■Ç"},
        DecodeCase{"TruncatedCp932LeadByte", "ab\x83", "abâ"}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.label; });

struct SplitCase {
  const char* label;
  std::string name;
  NameProblem problem;
  std::vector<std::string> components;
};

class SplitEntryPathTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitEntryPathTest, SplitsAndRefuses) {
  EntryPath path = SplitEntryPath(GetParam().name);
  EXPECT_EQ(path.problem, GetParam().problem);
  if (GetParam().problem == NameProblem::kNone) {
    EXPECT_EQ(path.components, GetParam().components);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, SplitEntryPathTest,
    testing::Values(
        SplitCase{"Plain", "a/b/c.txt", NameProblem::kNone, {"a", "b", "c.txt"}},
        SplitCase{"FolderEntry", "dir/", NameProblem::kNone, {"dir"}},
        SplitCase{"Backslashes", "a\\b\\c", NameProblem::kNone, {"a", "b", "c"}},
        SplitCase{"DotsAndDoubles", "./a//./b/", NameProblem::kNone, {"a", "b"}},
        SplitCase{"DotsInsideNames", "..a/b..", NameProblem::kNone, {"..a", "b.."}},
        SplitCase{"ColonLater", "a/C:", NameProblem::kNone, {"a", "C:"}},
        SplitCase{"Parent", "../x", NameProblem::kLeavesFolder, {}},
        SplitCase{"ParentLater", "ok/../../x", NameProblem::kLeavesFolder, {}},
        SplitCase{"ParentBackslash", "..\\..\\x", NameProblem::kLeavesFolder, {}},
        SplitCase{"Absolute", "/abs", NameProblem::kLeavesFolder, {}},
        SplitCase{"AbsoluteBackslash", "\\abs", NameProblem::kLeavesFolder, {}},
        SplitCase{"Drive", "C:\\x", NameProblem::kLeavesFolder, {}},
        SplitCase{"DriveRelative", "c:x", NameProblem::kLeavesFolder, {}},
        SplitCase{"Empty", "", NameProblem::kEmpty, {}},
        SplitCase{"OnlyDots", "./.", NameProblem::kEmpty, {}},
        SplitCase{"ThreeDotsIsAName", "...", NameProblem::kNone, {"..."}},
        SplitCase{"ControlCharacter", "a/b\x01c", NameProblem::kUnusable, {"a", "b\x01c"}},
        SplitCase{"Delete", "a\x7f", NameProblem::kUnusable, {"a\x7f"}},
        SplitCase{"LongestComponent", std::string(255, 'n'), NameProblem::kNone,
                  {std::string(255, 'n')}},
        SplitCase{"ComponentTooLong", "d/" + std::string(256, 'n'), NameProblem::kUnusable,
                  {"d", std::string(256, 'n')}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.label; });

TEST(PrintableNameTest, EscapesControlCharactersOnly) {
  EXPECT_EQ(PrintableName("\x1b[2Jé\x7f\n"), "\\x1B[2Jé\\x7F\\x0A");
  EXPECT_EQ(PrintableName("\xC2\x9B"
                          "2J\xC2\xA0"),
            "\\u009B2J\xC2\xA0");
  EXPECT_EQ(PrintableName("inv\u202Egpj.exe\u2066"), "inv\\u202Egpj.exe\\u2066");
  // Names that are not UTF-8: CP932 where the whole name decodes, else U+FFFD for each stray byte.
  EXPECT_EQ(PrintableName("\x83p\x83X\x1b.zip"), "パス\\x1B.zip");
  EXPECT_EQ(PrintableName("\x9B\x1b[2J\xFFé"), "\uFFFD\\x1B[2J\uFFFDé");
}

}  // namespace
}  // namespace zipdrop
