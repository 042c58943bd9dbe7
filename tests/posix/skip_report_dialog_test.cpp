#include "platform/posix/ui/skip_report_dialog.h"

#include <gtest/gtest.h>

#include "platform/posix/ui/report_text.h"
#include "platform/posix/ui/skip_summary.h"
#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

using testing::FakeDesktop;
using testing::ReadRecordedArguments;
using testing::ScratchFolder;
using testing::WriteRecorderScript;

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
