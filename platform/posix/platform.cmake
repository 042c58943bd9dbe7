# The POSIX stand-ins for the Windows services, and the native program.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
# libdeflate decodes the entries small enough to be held in memory, about twice as fast as zlib.
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
# nettle gives AES, PBKDF2 and HMAC-SHA1 for archives encrypted with WinZip's AES.
pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
find_package(Threads REQUIRED)

file(GLOB zipdrop_posix_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_library(zipdrop_platform STATIC ${zipdrop_posix_sources})
target_include_directories(zipdrop_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# zipdrop runs once per dropped file, so its start-up counts. libarchive's shared library loads
# libxml2 and ICU (tens of megabytes) for formats we never read; its static archive brings only
# the ZIP reader and what that needs, and --as-needed drops the libraries nothing calls.
# Where a library it needs has no development files, the shared library is linked instead.
find_library(ZIPDROP_LIBARCHIVE_STATIC NAMES libarchive.a)
set(zipdrop_archive_dependencies ${LIBARCHIVE_STATIC_LIBRARIES})
list(REMOVE_ITEM zipdrop_archive_dependencies archive)
foreach(dependency IN LISTS zipdrop_archive_dependencies)
  find_library(ZIPDROP_FOUND_${dependency} NAMES ${dependency})
  if(NOT ZIPDROP_FOUND_${dependency})
    set(ZIPDROP_LIBARCHIVE_STATIC "")
  endif()
endforeach()
if(ZIPDROP_LIBARCHIVE_STATIC)
  target_include_directories(zipdrop_platform PUBLIC ${LIBARCHIVE_INCLUDE_DIRS})
  target_link_options(zipdrop_platform INTERFACE LINKER:--as-needed)
  set(zipdrop_archive_libraries "")
  foreach(dependency IN LISTS zipdrop_archive_dependencies)
    list(APPEND zipdrop_archive_libraries ${ZIPDROP_FOUND_${dependency}})
  endforeach()
  target_link_libraries(zipdrop_platform PUBLIC ${ZIPDROP_LIBARCHIVE_STATIC}
                        ${zipdrop_archive_libraries})
else()
  target_link_libraries(zipdrop_platform PUBLIC PkgConfig::LIBARCHIVE)
endif()
target_link_libraries(zipdrop_platform PUBLIC PkgConfig::LIBDEFLATE PkgConfig::NETTLE
                      Threads::Threads)

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
