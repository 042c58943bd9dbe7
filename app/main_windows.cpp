#include <windows.h>

#include "app/start_up.h"
#include "platform/windows/windows_platform.h"

// The graphical subsystem keeps a console window from ever flashing up when a file is dropped.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    zipdrop::RestrictDllSearchToSystem();
    zipdrop::WindowsPlatform platform;
    zipdrop::StartUp(platform);
  } catch (...) {
    // A failure the run did not pass over itself (the DLL restriction or COM refused, memory
    // exhausted) ends the program quietly, as every failure does: there is no platform left to
    // tell the user with, and an exception leaving wWinMain would bring up the system's crash box.
    return 1;
  }
  return 0;
}
