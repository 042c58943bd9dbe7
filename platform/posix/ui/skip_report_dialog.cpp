#include "platform/posix/ui/skip_report_dialog.h"

#include "platform/message_icons.h"
#include "platform/posix/ui/message_box.h"
#include "platform/posix/ui/report_text.h"
#include "platform/posix/ui/skip_summary.h"

namespace zipdrop {

namespace {

constexpr char kReportTitle[] = "展開されなかったファイル";

}  // namespace

std::string RefusalText(const Refusal& refusal, const std::string& archiveName) {
  return archiveName + " を展開しませんでした。\n\n" + DescribeRefusalReason(refusal);
}

// A refusal is one short message; the entries left out are a list, perhaps a long one, shown in
// full in a window that scrolls.
void ReportSkipped(const ExtractionReport& report, const std::string& archiveName,
                   const std::string& untrustedFolder) {
  bool shown = false;
  if (report.refusal) {
    shown = ShowDialog(RefusalText(*report.refusal, archiveName), kReportTitle, kIconExclamation,
                       untrustedFolder);
  } else {
    std::string text = ReportText(report, archiveName);
    if (text.empty()) return;
    shown = ShowTextWindow(text, kReportTitle, untrustedFolder);
  }
  if (!shown) WriteToStandardError(DescribeSkipped(report));
}

}  // namespace zipdrop
