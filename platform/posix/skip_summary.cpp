// The summary of skipped entries that the user reads on standard error.
#include <string>

#include "platform/posix/zip_extractor.h"

namespace zipdrop {

namespace {

const char* DescribeReason(SkipReason reason) {
  switch (reason) {
    case SkipReason::kLeavesFolder:
      return "展開先フォルダーの外を指す名前";
    case SkipReason::kEmptyName:
      return "空の名前";
    case SkipReason::kLink:
      return "リンク (作成しません)";
    case SkipReason::kSpecialFile:
      return "デバイスなどの特殊ファイル";
    case SkipReason::kEncrypted:
      return "暗号化されたファイル";
    case SkipReason::kBadHeader:
      return "読めないヘッダーまたは名前";
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
    case SkipReason::kArchiveDamaged:
      return "アーカイブが壊れていて以降を読めない";
  }
  return "不明な理由";
}

std::string DescribeLine(const ExtractionReport::Skipped& skipped) {
  std::string line = "  " + std::string(DescribeReason(skipped.reason)) + ": " +
                     std::to_string(skipped.count) + " 件";
  if (!skipped.names.empty()) {
    line += " (";
    for (size_t i = 0; i < skipped.names.size(); ++i) {
      line += (i > 0 ? ", " : "") + skipped.names[i];
    }
    line += skipped.count > skipped.names.size() ? ", …)" : ")";
  }
  return line + "\n";
}

}  // namespace

std::string DescribeSkipped(const ExtractionReport& report) {
  std::uint64_t total = 0;
  for (const ExtractionReport::Skipped& skipped : report.skipped) total += skipped.count;
  if (total == 0) return "";
  std::string text = "zipdrop: " + std::to_string(total) + " 件を展開しませんでした\n";
  for (const ExtractionReport::Skipped& skipped : report.skipped) text += DescribeLine(skipped);
  return text;
}

}  // namespace zipdrop
