#include "platform/posix/ui/report_text.h"

#include <vector>

#include "platform/posix/ui/dialog_programs.h"
#include "platform/posix/ui/skip_summary.h"

namespace zipdrop {

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte offsets where each character of the UTF-8 text starts.
std::vector<std::size_t> CharacterStarts(const std::string& text) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsContinuationByte(text[i])) starts.push_back(i);
  }
  return starts;
}

std::string TotalsLine(const ExtractionReport& report, const std::string& archiveName,
                       const std::string& skipped) {
  return "「" + archiveName + "」の " + skipped + "を展開しませんでした (展開したファイル " +
         std::to_string(report.filesWritten) + " 件)。\n";
}

}  // namespace

std::string ShortenedName(const std::string& name, std::size_t maxCharacters) {
  std::vector<std::size_t> starts = CharacterStarts(name);
  if (starts.size() <= maxCharacters || maxCharacters < 3) return name;
  std::size_t head = (maxCharacters - 1) / 2;
  std::size_t tail = maxCharacters - 1 - head;
  return name.substr(0, starts[head]) + "…" + name.substr(starts[starts.size() - tail]);
}

std::string ReportText(const ExtractionReport& report, const std::string& archiveName) {
  std::string total = DescribeTotal(report);
  if (total.empty()) return "";
  std::string text = TotalsLine(report, archiveName, total);
  for (const ExtractionReport::Skipped& skipped : report.skipped) {
    // Appended piece by piece: a chain of + here makes GCC 12 warn of an overlap that is not.
    text.append("\n").append(DescribeReason(skipped.reason)).append(" (");
    text.append(DescribeCount(skipped.count, skipped.moreMayBeLost)).append(")\n");
    for (const std::string& name : skipped.names) text += "  " + ShortenedName(name) + "\n";
    if (skipped.moreMayBeLost) text += "  (" + std::string(kMoreMayBeLost) + ")\n";
  }
  return text;
}

bool ShowTextWindow(const std::string& text, const std::string& title,
                    const std::string& programFolder) {
  return RunDialog(TextWindowDialogs(text, title), programFolder).end != DialogEnd::kNotShown;
}

}  // namespace zipdrop
