#include "app/start_up.h"

#include "app/extraction_run.h"

namespace zipdrop {

namespace {

const std::u16string kUsageText =
    u"解凍したいZIPファイルをこのアイコンの上にドラッグすると、\r\n"
    u"アイコンのある同じ場所にファイルが解凍されます。";
const std::u16string kUsageTitle = u"使い方";

}  // namespace

RunOutcome StartUp(PlatformServices& platform) {
  // A platform that cannot even tell us its arguments is treated like a start without any,
  // so the user at least learns how the program is meant to be used.
  std::u16string argumentText;
  try {
    argumentText = platform.ReadArgumentText();
  } catch (...) {
  }

  if (argumentText.empty()) {
    try {
      platform.ShowMessage(kUsageText, kUsageTitle, kIconExclamation);
    } catch (...) {
    }
    return RunOutcome::kFinished;
  }
  return ExtractDroppedArchive(platform, argumentText);
}

}  // namespace zipdrop
