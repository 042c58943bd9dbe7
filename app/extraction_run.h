#pragma once

#include <string>

#include "platform/platform_services.h"

namespace zipdrop {

/// How the run ended, as far as the program's exit status tells it: the name was rejected (the
/// message about it was shown), or the run went through its steps, each failure passed over.
enum class RunOutcome { kFinished, kNameRejected };

/// Extracts the archive named by the argument text into the program folder, removes the shell's
/// temporary folders and opens the folder the archive should have produced. Works on its own copy
/// of the text. Shows a message only when the name is not a ZIP file's; every other failure is
/// passed over in silence and nothing ever leaves this function.
RunOutcome ExtractDroppedArchive(PlatformServices& platform, std::u16string argumentText);

/// Opens the path with the application the system has registered for it, through the system's
/// file-protocol handler. A failed launch is thrown to the caller.
void OpenWithHandler(PlatformServices& platform, const std::u16string& path, int windowStyle);

}  // namespace zipdrop
