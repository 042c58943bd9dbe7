# The Windows platform, the Windows program and its resources. Included by the top-level
# CMakeLists.txt when building for Windows, natively or across from Linux.

enable_language(RC)

# Every program of this build lands in the build folder itself, so zipdrop.exe, the test
# binary and its helper sit side by side and the tests can find each other's files.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(MINGW)
  # The C++ runtime, libgcc and winpthread are linked in, so the programs need no DLL beyond
  # the system's: a DLL beside zipdrop.exe is exactly what an archive could plant there.
  add_link_options(-static)
endif()

add_library(zipdrop_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/automation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/com_handles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
  ${CMAKE_CURRENT_LIST_DIR}/handler_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/module_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process_launch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell_process_reference.cpp
  ${CMAKE_CURRENT_LIST_DIR}/windows_error.cpp
  ${CMAKE_CURRENT_LIST_DIR}/windows_platform.cpp)
target_compile_definitions(zipdrop_platform PUBLIC
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
target_link_libraries(zipdrop_platform PUBLIC zipdrop_core ole32 oleaut32 uuid user32 shell32)

add_executable(zipdrop WIN32 ${CMAKE_SOURCE_DIR}/app/main_windows.cpp)
target_sources(zipdrop PRIVATE ${CMAKE_SOURCE_DIR}/resources/zipdrop.rc)
target_include_directories(zipdrop PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(zipdrop PRIVATE zipdrop_core zipdrop_platform)
if(MINGW)
  # wWinMain: the command line arrives as UTF-16, never through the ANSI code page. Release
  # builds drop their symbols, which the statically linked runtime would otherwise bloat.
  target_link_options(zipdrop PRIVATE -municode $<$<NOT:$<CONFIG:Debug>>:-s>)
  # GNU ld leaves the terminal-server-aware bit out unless asked, and a Remote Desktop server
  # then treats the program as a legacy one. ASLR and NX are named as well, so that they stay
  # on whatever the linker's defaults are.
  target_link_options(zipdrop PRIVATE
    -Wl,--tsaware,--dynamicbase,--high-entropy-va,--nxcompat)
endif()
if(MSVC)
  # The manifest comes from resources/zipdrop.rc; the linker's own would be a duplicate. The
  # static runtime is chosen for every target in the top-level CMakeLists.txt. MSVC's linker sets
  # the terminal-server-aware bit, ASLR and NX for programs by default.
  target_link_options(zipdrop PRIVATE /MANIFEST:NO)
endif()

if(ZIPDROP_TESTS)
  # A stand-in program that reports how it was started; the launch tests run it and plant it
  # where an attacker would.
  add_executable(zipdrop_launch_probe WIN32
    ${CMAKE_SOURCE_DIR}/tests/windows/helpers/launch_probe.cpp)
  if(MINGW)
    target_link_options(zipdrop_launch_probe PRIVATE -municode)
  endif()
  # A stand-in for the shell's automation object, which the end-to-end tests register in their
  # own Wine prefix: Wine's shell cannot copy out of a ZIP file.
  add_library(zipdrop_shell_stand_in MODULE
    ${CMAKE_SOURCE_DIR}/tests/windows/helpers/shell_stand_in.cpp
    ${CMAKE_SOURCE_DIR}/tests/windows/helpers/shell_stand_in.def)
  set_target_properties(zipdrop_shell_stand_in PROPERTIES PREFIX "" OUTPUT_NAME shell_stand_in)
  target_compile_definitions(zipdrop_shell_stand_in PRIVATE UNICODE _UNICODE _WIN32_WINNT=0x0A00)
  target_link_libraries(zipdrop_shell_stand_in PRIVATE ole32 oleaut32 uuid user32 shell32)
endif()
