#include "platform/posix/skip_report_dialog.h"

#include <gtest/gtest.h>

#include "platform/posix/report_text.h"
#include "platform/posix/skip_summary.h"
#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

using testing::FakeDesktop;
using testing::ReadRecordedArguments;
using testing::ScratchFolder;
using testing::WriteRecorderScript;

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
                   "アーカイブが壊れていて読めない (1 件以上)\n  b.txt\n  (壊れた位置より後は読めません)\n"},
        ReportCase{"BrokenOffBetweenEntries",
                   {{SkipReason::kArchiveDamaged, 0, {}, true}},
                   "「a.zip」の 件数不明の項目を展開しませんでした (展開したファイル 7 件)。\n\n"
                   "アーカイブが壊れていて読めない (件数不明の項目)\n  (壊れた位置より後は読めません)\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// Names are cut between characters, never inside one.
TEST(ShortenedNameTest, KeepsBothEndsWhole) {
  EXPECT_EQ(ShortenedName("短い名前.txt", 7), "短い名…txt");
  EXPECT_EQ(ShortenedName("短い名前.txt", 8), "短い名前.txt");
}

class ReportSkippedTest : public ::testing::Test {
 protected:
  std::string Report(const ExtractionReport& report) {
    ::testing::internal::CaptureStderr();
    ReportSkipped(report, "a.zip", programFolder_.Path());
    return ::testing::internal::GetCapturedStderr();
  }
  std::string Record() const { return work_ / "record"; }

  ExtractionReport Sample() const {
    ExtractionReport report;
    report.Skip(SkipReason::kAlreadyExists, "a/b.txt");
    return report;
  }

  ScratchFolder programFolder_, work_;
};

// The whole list goes through the dialog program's input, in a window of a fixed size.
TEST_F(ReportSkippedTest, ShowsTheWholeReportAsScrollableText) {
  FakeDesktop desktop;
  testing::WriteFile(desktop.Bin() / "zenity",
                     "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + Record() +
                         "'\nwhile IFS= read -r l; do printf '%s\\n' \"$l\"; done > '" + Record() +
                         ".in'\n",
                     0755);
  EXPECT_EQ(Report(Sample()), "");
  EXPECT_EQ(ReadRecordedArguments(Record()),
            (std::vector<std::string>{"--text-info", "--title=展開されなかったファイル",
                                      "--width=640", "--height=440"}));
  EXPECT_EQ(testing::ReadFile(Record() + ".in"), ReportText(Sample(), "a.zip"));
}

TEST_F(ReportSkippedTest, ShowsARefusalInOneWarningDialog) {
  FakeDesktop desktop;
  WriteRecorderScript(desktop.Bin() / "zenity", Record());
  ExtractionReport refused;
  refused.refusal = Refusal{RefusalReason::kOverlappingEntries};
  EXPECT_EQ(Report(refused), "");
  EXPECT_EQ(
      ReadRecordedArguments(Record()),
      (std::vector<std::string>{"--warning", "--no-markup", "--title=展開されなかったファイル",
                                "--text=" + RefusalText(*refused.refusal, "a.zip")}));
}

TEST_F(ReportSkippedTest, WritesTheSummaryWhenNoDialogCanBeShown) {
  FakeDesktop desktop;
  WriteRecorderScript(desktop.Bin() / "zenity", Record(), 255);
  EXPECT_EQ(Report(Sample()), DescribeSkipped(Sample()));
}

// Three names of 64 KiB are more than the kernel takes as one argument: the report reaches the
// dialog through its input, in a window that scrolls.
TEST_F(ReportSkippedTest, HandsALongReportOverThroughTheDialogsInput) {
  FakeDesktop desktop;
  testing::WriteFile(desktop.Bin() / "zenity",
                     "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + Record() + "'\n/bin/cat > '" +
                         Record() + ".input'\n",
                     0755);
  ExtractionReport report;
  for (char c : std::string("abc")) report.Skip(SkipReason::kUnusableName, std::string(65000, c));
  EXPECT_EQ(Report(report), "");
  EXPECT_EQ(ReadRecordedArguments(Record()),
            (std::vector<std::string>{"--text-info", "--title=展開されなかったファイル",
                                      "--width=640", "--height=440"}));
  EXPECT_EQ(testing::ReadFile(Record() + ".input"), ReportText(report, "a.zip"));
}

}  // namespace
}  // namespace zipdrop
