#include "app/start_up.h"
#include "platform/posix/posix_platform.h"

int main(int argc, char** argv) {
  zipdrop::PosixPlatform platform(argc, argv);
  zipdrop::StartUp(platform);
  return platform.ExitStatus();
}
