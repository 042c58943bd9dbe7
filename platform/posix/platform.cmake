# The POSIX stand-ins for the Windows services, and the native program.
# The one translation of errno into PlatformError, shared by the extractor and the platform.
add_library(zipdrop_posix_error STATIC ${CMAKE_CURRENT_LIST_DIR}/posix_error.cpp)
target_include_directories(zipdrop_posix_error PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

include(${CMAKE_CURRENT_LIST_DIR}/extractor/extractor.cmake)

# ui/ holds the windows and questions the shell would show on Windows; the rest serves the other
# operations.
file(GLOB zipdrop_posix_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp
     ${CMAKE_CURRENT_LIST_DIR}/ui/*.cpp)
list(REMOVE_ITEM zipdrop_posix_sources ${CMAKE_CURRENT_LIST_DIR}/posix_error.cpp
     ${CMAKE_CURRENT_LIST_DIR}/older_c_library.cpp)
add_library(zipdrop_platform STATIC ${zipdrop_posix_sources})
# The platform includes only the extractor's face, include/zipdrop/extractor: the headers beside
# the extractor's sources are its own, and a platform file that reached for one would tie the two
# together again.
file(GLOB zipdrop_posix_headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.h
     ${CMAKE_CURRENT_LIST_DIR}/ui/*.h)
foreach(file IN LISTS zipdrop_posix_sources zipdrop_posix_headers)
  file(STRINGS ${file} private_includes REGEX "^#include \"platform/posix/extractor/")
  if(private_includes)
    message(FATAL_ERROR "${file} includes a private header of the extractor: ${private_includes}")
  endif()
endforeach()
target_include_directories(zipdrop_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zipdrop_platform PUBLIC zipdrop_extractor)
# The display check makes the X connection setup with libxcb and the session's cookie from libXau,
# and a Wayland round trip with libwayland-client, all loaded at run time (display_libraries.cpp):
# only their headers are needed here.
find_package(PkgConfig REQUIRED)
pkg_check_modules(zipdrop_display REQUIRED xcb xau wayland-client)
target_include_directories(zipdrop_platform PRIVATE ${zipdrop_display_INCLUDE_DIRS})
target_link_libraries(zipdrop_platform PRIVATE ${CMAKE_DL_LIBS})

add_executable(zipdrop app/main_posix.cpp)
target_link_libraries(zipdrop PRIVATE zipdrop_core zipdrop_platform)
# The C++ runtime linked in saves the loader a large library at every start. Not under the
# sanitizers, which must see every allocation through the shared runtime.
if(NOT ZIPDROP_SANITIZE)
  target_link_options(zipdrop PRIVATE -static-libstdc++ -static-libgcc)
  target_sources(zipdrop PRIVATE ${CMAKE_CURRENT_LIST_DIR}/older_c_library.cpp)
endif()

# The launcher and icon beside the program make the build folder a drop target on the desktop.
# The launcher finds the program beside itself, so it keeps working when the folder moves, and
# else runs the program it recorded, so a copy of it on the desktop works too; the Icon key must
# be an absolute path, so only the icon is lost when the folder moves.
include(${CMAKE_CURRENT_LIST_DIR}/launcher.cmake)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/resources/zipdrop.desktop.in
             ${PROJECT_SOURCE_DIR}/resources/zipdrop_launcher.sh)
configure_file(${PROJECT_SOURCE_DIR}/resources/zipdrop.png ${CMAKE_BINARY_DIR}/zipdrop.png COPYONLY)
zipdrop_write_launcher("${CMAKE_BINARY_DIR}/zipdrop.desktop" "${CMAKE_BINARY_DIR}/zipdrop.png"
                       "${CMAKE_BINARY_DIR}/zipdrop")

# cmake --install build --prefix DIR puts the program, its launcher, its icon and the launcher's
# setup script into DIR, the folder that then receives what is dropped. The launcher records the
# program's path without DESTDIR, where a package puts it once installed; the setup script writes
# the folder's real paths into it where the folder is unpacked elsewhere.
install(TARGETS zipdrop DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/resources/zipdrop.png DESTINATION .)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/resources/zipdrop-setup.sh DESTINATION .
        RENAME zipdrop-setup)
install(CODE "
  include(\"${CMAKE_CURRENT_LIST_DIR}/launcher.cmake\")
  get_filename_component(prefix \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
  set(installed \"\$ENV{DESTDIR}\${prefix}/zipdrop.desktop\")
  message(STATUS \"Installing: \${installed}\")
  zipdrop_write_launcher(\"\${installed}\" \"\${prefix}/zipdrop.png\" \"\${prefix}/zipdrop\")
")
