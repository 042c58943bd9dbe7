#include <windows.h>

#include "app/start_up.h"
#include "platform/windows/windows_platform.h"

// The graphical subsystem keeps a console window from ever flashing up when a file is dropped.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    zipdrop::RestrictDllSearchToSystem();
    zipdrop::WindowsPlatform platform;
    zipdrop::StartUp(platform);
  } catch (const zipdrop::PlatformError&) {
    // Only a system that refuses the DLL restriction or COM itself gets here; there is no
    // platform left to tell the user with.
    return 1;
  }
  return 0;
}
