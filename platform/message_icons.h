// The icon codes of a message box, shared by the seam and the windows that show one.
#pragma once

namespace zipdrop {

/// Icon codes of ShowMessage.
inline constexpr int kIconStop = 16;
inline constexpr int kIconExclamation = 48;

}  // namespace zipdrop
