# The POSIX stand-ins for the Windows services, and the native program.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
# libdeflate decodes the entries small enough to be held in memory, about twice as fast as zlib.
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
find_package(Threads REQUIRED)

file(GLOB zipdrop_posix_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_library(zipdrop_platform STATIC ${zipdrop_posix_sources})
target_include_directories(zipdrop_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zipdrop_platform PUBLIC PkgConfig::LIBARCHIVE PkgConfig::LIBDEFLATE
                      Threads::Threads)

add_executable(zipdrop app/main_posix.cpp)
target_link_libraries(zipdrop PRIVATE zipdrop_core zipdrop_platform)
