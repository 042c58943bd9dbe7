# The POSIX stand-ins for the Windows services, and the native program.
# The one translation of errno into PlatformError, shared by the extractor and the platform.
add_library(zipdrop_posix_error STATIC ${CMAKE_CURRENT_LIST_DIR}/posix_error.cpp)
target_include_directories(zipdrop_posix_error PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

include(${CMAKE_CURRENT_LIST_DIR}/extractor/extractor.cmake)

file(GLOB zipdrop_posix_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
list(REMOVE_ITEM zipdrop_posix_sources ${CMAKE_CURRENT_LIST_DIR}/posix_error.cpp)
add_library(zipdrop_platform STATIC ${zipdrop_posix_sources})
target_include_directories(zipdrop_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zipdrop_platform PUBLIC zipdrop_extractor)
# The display check makes the X connection setup with libxcb and the session's cookie from libXau,
# and a Wayland round trip with libwayland-client.
find_package(PkgConfig REQUIRED)
pkg_check_modules(zipdrop_display REQUIRED IMPORTED_TARGET xcb xau wayland-client)
target_link_libraries(zipdrop_platform PRIVATE PkgConfig::zipdrop_display)

add_executable(zipdrop app/main_posix.cpp)
target_link_libraries(zipdrop PRIVATE zipdrop_core zipdrop_platform)
# The C++ runtime linked in saves the loader a large library at every start. Not under the
# sanitizers, which must see every allocation through the shared runtime.
if(NOT ZIPDROP_SANITIZE)
  target_link_options(zipdrop PRIVATE -static-libstdc++ -static-libgcc)
endif()

# The launcher and icon beside the program make the build folder a drop target on the desktop.
# The launcher finds the program beside itself, so it keeps working when the folder moves; the
# Icon key must be an absolute path, so only the icon is lost then.
set(zipdrop_launcher_template ${PROJECT_SOURCE_DIR}/resources/zipdrop.desktop.in)
set(ZIPDROP_ICON ${CMAKE_BINARY_DIR}/zipdrop.png)
configure_file(${PROJECT_SOURCE_DIR}/resources/zipdrop.png ${ZIPDROP_ICON} COPYONLY)
configure_file(${zipdrop_launcher_template} ${CMAKE_BINARY_DIR}/zipdrop.desktop @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)

# cmake --install build --prefix DIR puts the program, its launcher and its icon into DIR, the
# folder that then receives what is dropped.
install(TARGETS zipdrop DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/resources/zipdrop.png DESTINATION .)
install(CODE "
  file(READ \"${zipdrop_launcher_template}\" launcher)
  string(REPLACE \"@ZIPDROP_ICON@\" \"\${CMAKE_INSTALL_PREFIX}/zipdrop.png\" launcher \"\${launcher}\")
  set(installed \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/zipdrop.desktop\")
  message(STATUS \"Installing: \${installed}\")
  file(WRITE \"\${installed}\" \"\${launcher}\")
  file(CHMOD \"\${installed}\" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
")
