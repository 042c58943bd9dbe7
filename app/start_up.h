#pragma once

#include "app/extraction_run.h"
#include "platform/platform_services.h"

namespace zipdrop {

/// The whole of the program's run: shows how to use the program when it was started without an
/// argument, and otherwise hands the argument text to the extraction run. The usage message is no
/// rejection: that run counts as finished.
RunOutcome StartUp(PlatformServices& platform);

}  // namespace zipdrop
