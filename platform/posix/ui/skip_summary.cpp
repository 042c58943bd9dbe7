// The summary of skipped entries that the user reads on standard error.
#include "platform/posix/ui/skip_summary.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace zipdrop {

const char kMoreMayBeLost[] = "壊れた位置より後は読めません";

const char* DescribeReason(SkipReason reason) {
  switch (reason) {
    case SkipReason::kLeavesFolder:
      return "展開先フォルダーの外を指す名前";
    case SkipReason::kEmptyName:
      return "空の名前";
    case SkipReason::kUnusableName:
      return "使えない文字を含む名前または長すぎる名前";
    case SkipReason::kLink:
      return "リンク (作成しません)";
    case SkipReason::kEncrypted:
      return "暗号化されたファイル (パスワードなし)";
    case SkipReason::kWrongPassword:
      return "パスワードが違う暗号化されたファイル";
    case SkipReason::kUnreadableData:
      return "読めないデータ (破損または未対応の圧縮方式)";
    case SkipReason::kTooLarge:
      return "記録されたサイズを超えるデータ";
    case SkipReason::kAlreadyExists:
      return "同じ名前がすでにある";
    case SkipReason::kBlockedPath:
      return "途中にリンクかファイルがある";
    case SkipReason::kWriteFailed:
      return "書き込みの失敗";
    case SkipReason::kDiskFull:
      return "ディスクの空き容量不足 (以降は展開を中止)";
    case SkipReason::kCancelled:
      return "展開の取り消し";
    case SkipReason::kArchiveDamaged:
      return "アーカイブが壊れていて読めない";
  }
  return "不明な理由";
}

namespace {

// A line names a few entries; the report keeps more for a list of its own.
constexpr std::size_t kNamesPerLine = 5;

std::string DescribeLine(const ExtractionReport::Skipped& skipped) {
  std::string line = "  " + std::string(DescribeReason(skipped.reason)) + ": " +
                     DescribeCount(skipped.count, skipped.moreMayBeLost);
  std::size_t shown = std::min(skipped.names.size(), kNamesPerLine);
  std::vector<std::string> parts(skipped.names.begin(), skipped.names.begin() + shown);
  if (skipped.count > shown && shown > 0) parts.push_back("…");
  if (skipped.moreMayBeLost) parts.push_back(kMoreMayBeLost);
  for (size_t i = 0; i < parts.size(); ++i) line += (i > 0 ? ", " : " (") + parts[i];
  return line + (parts.empty() ? "\n" : ")\n");
}

}  // namespace

// Sizes as the Windows Explorer shows them: binary units with the Western abbreviations.
std::string DescribeSize(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  if (bytes < 1024) return std::to_string(bytes) + " バイト";
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  for (; value >= 1024 && unit + 1 < std::size(kUnits); ++unit) value /= 1024;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string DescribeCount(std::uint64_t count, bool moreMayBeLost) {
  if (!moreMayBeLost) return std::to_string(count) + " 件";
  return count == 0 ? std::string("件数不明の項目") : std::to_string(count) + " 件以上";
}

// The part of an archive past its damage is left out however many entries it held, so a report
// with nothing counted may still have something to say.
std::string DescribeTotal(const ExtractionReport& report) {
  std::uint64_t total = 0;
  bool moreMayBeLost = false;
  for (const ExtractionReport::Skipped& skipped : report.skipped) {
    total += skipped.count;
    moreMayBeLost = moreMayBeLost || skipped.moreMayBeLost;
  }
  if (total == 0 && !moreMayBeLost) return "";
  return DescribeCount(total, moreMayBeLost);
}

std::string DescribeRefusalReason(const Refusal& refusal) {
  switch (refusal.reason) {
    case RefusalReason::kOverlappingEntries:
      return "項目どうしがデータを共有している (zip 爆弾の形)";
    case RefusalReason::kMissingLocalHeader:
      return "項目の指す位置にヘッダーがない (壊れたアーカイブ)";
    case RefusalReason::kNotEnoughSpace:
      return "展開に " + DescribeSize(refusal.bytesNeeded) + " 必要ですが、空きは " +
             DescribeSize(refusal.bytesFree) + " しかありません";
  }
  return "不明な理由";
}

std::string DescribeSkipped(const ExtractionReport& report) {
  if (report.refusal) {
    return "zipdrop: アーカイブを展開しませんでした: " + DescribeRefusalReason(*report.refusal) +
           "\n";
  }
  std::string total = DescribeTotal(report);
  if (total.empty()) return "";
  std::string text = "zipdrop: " + total + "を展開しませんでした\n";
  for (const ExtractionReport::Skipped& skipped : report.skipped) text += DescribeLine(skipped);
  return text;
}

}  // namespace zipdrop
