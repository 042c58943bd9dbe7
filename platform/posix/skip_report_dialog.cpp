#include "platform/posix/skip_report_dialog.h"

#include <algorithm>
#include <cstdint>

#include "platform/platform_services.h"
#include "platform/posix/message_box.h"
#include "platform/posix/extractor/skip_summary.h"

namespace zipdrop {

namespace {

constexpr char kReportTitle[] = "展開されなかったファイル";

// How many named entries of one reason found no room, in the dialog or in the report. An entry
// whose name could not be read is counted in its reason's heading only: a "ほか" would promise
// names that do not exist.
std::uint64_t UnshownNames(const ExtractionReport::Skipped& skipped, std::size_t shown) {
  bool reportFull = skipped.names.size() >= kNamesKept;
  return skipped.names.size() - shown + (reportFull ? skipped.count - skipped.names.size() : 0);
}

}  // namespace

std::string SkipReportText(const ExtractionReport& report, const std::string& archiveName,
                           std::size_t maxNames) {
  if (report.refusal) {
    return archiveName + " を展開しませんでした。\n\n" + DescribeRefusalReason(*report.refusal);
  }
  std::string total = DescribeTotal(report);
  if (total.empty()) return "";
  std::string text = archiveName + " の " + total + "を展開しませんでした。\n";
  std::size_t room = maxNames;
  std::uint64_t unshown = 0;
  for (const ExtractionReport::Skipped& skipped : report.skipped) {
    text += "\n" + std::string(DescribeReason(skipped.reason)) + " (" +
            DescribeCount(skipped.count, skipped.moreMayBeLost) + ")";
    std::size_t shown = std::min(skipped.names.size(), room);
    for (std::size_t i = 0; i < shown; ++i) text += "\n  " + skipped.names[i];
    room -= shown;
    unshown += UnshownNames(skipped, shown);
    if (skipped.moreMayBeLost) text += "\n  (" + std::string(kMoreMayBeLost) + ")";
  }
  if (unshown > 0) text += "\n\nほか " + std::to_string(unshown) + " 件";
  return text;
}

void ReportSkipped(const ExtractionReport& report, const std::string& archiveName,
                   const std::string& untrustedFolder) {
  std::string text = SkipReportText(report, archiveName);
  if (text.empty()) return;
  if (!ShowDialog(text, kReportTitle, kIconExclamation, untrustedFolder)) {
    WriteToStandardError(DescribeSkipped(report));
  }
}

}  // namespace zipdrop
