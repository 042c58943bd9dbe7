# Cross-builds zipdrop for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads flavour,
# whose C++ runtime has std::thread and std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZIPDROP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZIPDROP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZIPDROP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZIPDROP_MINGW_TRIPLE}-windres)

# Headers and libraries come from the MinGW sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZIPDROP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
