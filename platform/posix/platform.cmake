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

add_executable(zipdrop app/main_posix.cpp)
target_link_libraries(zipdrop PRIVATE zipdrop_core zipdrop_platform)
# The C++ runtime linked in saves the loader a large library at every start. Not under the
# sanitizers, which must see every allocation through the shared runtime.
if(NOT ZIPDROP_SANITIZE)
  target_link_options(zipdrop PRIVATE -static-libstdc++ -static-libgcc)
endif()
