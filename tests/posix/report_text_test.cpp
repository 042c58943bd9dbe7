#include "platform/posix/ui/report_text.h"

#include <gtest/gtest.h>

namespace zipdrop {
namespace {

struct ReportCase {
  const char* label;
  std::vector<ExtractionReport::Skipped> skipped;
  std::string text;
};

class ReportTextTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportTextTest, ListsEveryNameUnderItsReasonAfterTheTotals) {
  ExtractionReport report;
  report.filesWritten = 7;
  report.skipped = GetParam().skipped;
  EXPECT_EQ(ReportText(report, "a.zip"), GetParam().text);
}

const std::string kLongName = "長い/" + std::string(80, 'x') + ".txt";

INSTANTIATE_TEST_SUITE_P(
    Reports, ReportTextTest,
    ::testing::Values(
        ReportCase{"NothingLeftOut", {}, ""},
        // No reason uses up the names of the next, and an entry lost unnamed is still counted.
        ReportCase{"EveryReasonNamed",
                   {{SkipReason::kAlreadyExists, 3, {"x/1.txt", "x/2.txt", "x/3.txt"}},
                    {SkipReason::kLink, 1, {"l"}},
                    {SkipReason::kArchiveDamaged, 1, {}}},
                   "「a.zip」の 5 件を展開しませんでした (展開したファイル 7 件)。\n\n"
                   "同じ名前がすでにある (3 件)\n  x/1.txt\n  x/2.txt\n  x/3.txt\n\n"
                   "リンク (作成しません) (1 件)\n  l\n\nアーカイブが壊れていて読めない (1 件)\n"},
        ReportCase{"LongNameShortened",
                   {{SkipReason::kEncrypted, 1, {kLongName}}},
                   "「a.zip」の 1 件を展開しませんでした (展開したファイル 7 件)。\n\n"
                   "暗号化されたファイル (パスワードなし) (1 件)\n  長い/" +
                       std::string(32, 'x') + "…" + std::string(32, 'x') + ".txt\n"},
        // An archive that broke off gives the least count, and says why it is only that.
        ReportCase{"BrokenOff",
                   {{SkipReason::kArchiveDamaged, 1, {"b.txt"}, true}},
                   "「a.zip」の 1 件以上を展開しませんでした (展開したファイル 7 件)。\n\n"
                   "アーカイブが壊れていて読めない (1 件以上)\n  b.txt\n  "
                   "(壊れた位置より後は読めません)\n"},
        ReportCase{
            "BrokenOffBetweenEntries",
            {{SkipReason::kArchiveDamaged, 0, {}, true}},
            "「a.zip」の 件数不明の項目を展開しませんでした (展開したファイル 7 件)。\n\n"
            "アーカイブが壊れていて読めない (件数不明の項目)\n  (壊れた位置より後は読めません)\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// Names are cut between characters, never inside one.
TEST(ShortenedNameTest, KeepsBothEndsWhole) {
  EXPECT_EQ(ShortenedName("短い名前.txt", 7), "短い名…txt");
  EXPECT_EQ(ShortenedName("短い名前.txt", 8), "短い名前.txt");
}

}  // namespace
}  // namespace zipdrop
