#include "platform/posix/skip_report_dialog.h"

#include <cstdint>

#include "platform/platform_services.h"
#include "platform/posix/message_box.h"
#include "platform/posix/extractor/skip_summary.h"

namespace zipdrop {

namespace {

constexpr char kReportTitle[] = "展開されなかったファイル";

std::uint64_t TotalSkipped(const ExtractionReport& report) {
  std::uint64_t total = 0;
  for (const ExtractionReport::Skipped& skipped : report.skipped) total += skipped.count;
  return total;
}

}  // namespace

std::string SkipReportText(const ExtractionReport& report, const std::string& archiveName,
                           std::size_t maxNames) {
  if (report.refusal) {
    return archiveName + " を展開しませんでした。\n\n" + DescribeRefusalReason(*report.refusal);
  }
  std::uint64_t total = TotalSkipped(report);
  if (total == 0) return "";
  std::string text = archiveName + " の " + std::to_string(total) + " 件を展開しませんでした。\n";
  std::size_t named = 0;
  for (const ExtractionReport::Skipped& skipped : report.skipped) {
    text += "\n";
    text += DescribeReason(skipped.reason);
    text += " (" + std::to_string(skipped.count) + " 件)";
    for (const std::string& name : skipped.names) {
      if (named == maxNames) break;
      text += "\n  " + name;
      ++named;
    }
  }
  if (named < total) text += "\n\nほか " + std::to_string(total - named) + " 件";
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
