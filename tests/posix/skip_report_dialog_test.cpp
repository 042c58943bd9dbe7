#include "platform/posix/skip_report_dialog.h"

#include <gtest/gtest.h>

#include "platform/posix/extractor/skip_summary.h"
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
  std::optional<Refusal> refusal;
  std::size_t maxNames;
  std::string text;
};

class SkipReportTextTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(SkipReportTextTest, ListsReasonsAndNamesUpToTheLimit) {
  ExtractionReport report;
  report.skipped = GetParam().skipped;
  report.refusal = GetParam().refusal;
  EXPECT_EQ(SkipReportText(report, "a.zip", GetParam().maxNames), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, SkipReportTextTest,
    ::testing::Values(
        ReportCase{"NothingLeftOut", {}, std::nullopt, 20, ""},
        ReportCase{"AllNamed",
                   {{SkipReason::kAlreadyExists, 2, {"x/1.txt", "x/2.txt"}},
                    {SkipReason::kEncrypted, 1, {"秘密.txt"}}},
                   std::nullopt, 20,
                   "a.zip の 3 件を展開しませんでした。\n\n同じ名前がすでにある (2 件)\n"
                   "  x/1.txt\n  x/2.txt\n暗号化されたファイル (パスワードなし) (1 件)\n  秘密.txt"},
        // The limit counts names over all reasons; the names that found no room are counted at
        // the end, the entries that have none only under their reason.
        ReportCase{"PastTheLimit",
                   {{SkipReason::kLink, 5, {"l1", "l2", "l3"}},
                    {SkipReason::kArchiveDamaged, 1, {}}},
                   std::nullopt, 2,
                   "a.zip の 6 件を展開しませんでした。\n\nリンク (作成しません) (5 件)\n  l1\n  l2\n"
                   "アーカイブが壊れていて読めない (1 件)\n\nほか 1 件"},
        // An archive that broke off gives the least count, and says why it is only that.
        ReportCase{"BrokenOff", {{SkipReason::kArchiveDamaged, 1, {"b.txt"}, true}}, std::nullopt,
                   20,
                   "a.zip の 1 件以上を展開しませんでした。\n\nアーカイブが壊れていて読めない "
                   "(1 件以上)\n  b.txt\n  (壊れた位置より後は読めません)"},
        ReportCase{"BrokenOffBetweenEntries", {{SkipReason::kArchiveDamaged, 0, {}, true}},
                   std::nullopt, 20,
                   "a.zip の 件数不明の項目を展開しませんでした。\n\nアーカイブが壊れていて読めない "
                   "(件数不明の項目)\n  (壊れた位置より後は読めません)"},
        ReportCase{"Refused", {}, Refusal{RefusalReason::kNotEnoughSpace, 3 << 20, 1 << 20}, 20,
                   "a.zip を展開しませんでした。\n\n展開に 3.0 MB 必要ですが、空きは 1.0 MB "
                   "しかありません"}),
    [](const auto& info) { return std::string(info.param.label); });

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

TEST_F(ReportSkippedTest, ShowsOneWarningDialogInADesktopSession) {
  FakeDesktop desktop;
  WriteRecorderScript(desktop.Bin() / "zenity", Record());
  EXPECT_EQ(Report(Sample()), "");
  EXPECT_EQ(ReadRecordedArguments(Record()),
            (std::vector<std::string>{"--warning", "--no-markup", "--title=展開されなかったファイル",
                                      "--text=" + SkipReportText(Sample(), "a.zip")}));
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
                                      "--width=600", "--height=400"}));
  EXPECT_EQ(testing::ReadFile(Record() + ".input"), SkipReportText(report, "a.zip"));
}

}  // namespace
}  // namespace zipdrop
