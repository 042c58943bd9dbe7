# The ZIP extractor: a static library of its own, linked by the platform and by the fuzzers.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
# libdeflate decodes the entries small enough to be held in memory, and computes CRC-32.
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
# ISA-L: Debian ships only its shared library, which the program loads at run time where the
# system has it (see isal_library.h), with zlib's inflate standing in where it does not. A static
# libisal.a found first (scripts/release builds one from Debian's source package and names its
# prefix in CMAKE_PREFIX_PATH) is linked instead, with the headers beside it, so that the released
# program decodes at ISA-L's speed on every machine.
pkg_check_modules(LIBISAL REQUIRED IMPORTED_TARGET libisal)
find_library(ZIPDROP_STATIC_isal NAMES libisal.a)
if(ZIPDROP_STATIC_isal)
  find_path(ZIPDROP_ISAL_INCLUDE_DIR isa-l/igzip_lib.h REQUIRED)
  set(LIBISAL_INCLUDE_DIRS ${ZIPDROP_ISAL_INCLUDE_DIR})
  message(STATUS "ISA-L linked statically: ${ZIPDROP_STATIC_isal}")
endif()
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(LIBLZMA REQUIRED IMPORTED_TARGET liblzma)
pkg_check_modules(LIBZSTD REQUIRED IMPORTED_TARGET libzstd)
# nettle gives AES, PBKDF2 and HMAC-SHA1 for archives encrypted with WinZip's AES.
pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)

# zipdrop runs once per dropped file, so its start-up counts, and each shared library costs the
# loader a fraction of a millisecond; the released program, besides, must start on a machine that
# has none of them. The codecs' static archives are linked where Debian ships them, the shared
# libraries otherwise.
function(zipdrop_codec variable name)
  find_library(ZIPDROP_STATIC_${name} NAMES lib${name}.a)
  if(ZIPDROP_STATIC_${name})
    set(${variable} ${ZIPDROP_STATIC_${name}} PARENT_SCOPE)
  else()
    find_library(ZIPDROP_SHARED_${name} NAMES ${name} REQUIRED)
    set(${variable} ${ZIPDROP_SHARED_${name}} PARENT_SCOPE)
  endif()
endfunction()

file(GLOB zipdrop_extractor_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_library(zipdrop_extractor STATIC ${zipdrop_extractor_sources})
# The library's face is include/zipdrop/extractor: the call, its report, its progress and the
# questions it asks. Code outside the extractor includes only those; the headers beside the
# sources are the extractor's own (the tests and fuzzers, which try its parts one by one, name
# the source folder themselves).
target_include_directories(zipdrop_extractor PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include
                           PRIVATE ${CMAKE_SOURCE_DIR})

# libarchive decodes only what we do not (PPMd). zipdrop runs once per dropped file, so its
# start-up counts: libarchive's shared library loads libxml2 and ICU (tens of megabytes) for
# formats we never read; its static archive brings only the ZIP reader and what that needs, and
# --as-needed drops the libraries nothing calls. Where a library it needs has no development
# files, the shared library is linked instead.
find_library(ZIPDROP_LIBARCHIVE_STATIC NAMES libarchive.a)
set(zipdrop_archive_dependencies ${LIBARCHIVE_STATIC_LIBRARIES})
list(REMOVE_ITEM zipdrop_archive_dependencies archive)
foreach(dependency IN LISTS zipdrop_archive_dependencies)
  # libxml2's static archive would want ICU's as well; only the writer of other formats uses it.
  if(dependency STREQUAL "xml2")
    find_library(ZIPDROP_ARCHIVE_${dependency} NAMES ${dependency})
  else()
    find_library(ZIPDROP_ARCHIVE_${dependency} NAMES lib${dependency}.a ${dependency})
  endif()
  if(NOT ZIPDROP_ARCHIVE_${dependency})
    set(ZIPDROP_LIBARCHIVE_STATIC "")
  endif()
endforeach()
if(ZIPDROP_LIBARCHIVE_STATIC)
  target_include_directories(zipdrop_extractor PUBLIC ${LIBARCHIVE_INCLUDE_DIRS})
  target_link_options(zipdrop_extractor INTERFACE LINKER:--as-needed)
  set(zipdrop_archive_libraries "")
  foreach(dependency IN LISTS zipdrop_archive_dependencies)
    list(APPEND zipdrop_archive_libraries ${ZIPDROP_ARCHIVE_${dependency}})
  endforeach()
  target_link_libraries(zipdrop_extractor PUBLIC ${ZIPDROP_LIBARCHIVE_STATIC}
                        ${zipdrop_archive_libraries})
else()
  target_link_libraries(zipdrop_extractor PUBLIC PkgConfig::LIBARCHIVE)
endif()
foreach(codec deflate lzma zstd bz2 z nettle)
  zipdrop_codec(zipdrop_${codec} ${codec})
endforeach()
target_include_directories(zipdrop_extractor PUBLIC ${LIBDEFLATE_INCLUDE_DIRS}
                           ${LIBISAL_INCLUDE_DIRS} ${LIBLZMA_INCLUDE_DIRS} ${LIBZSTD_INCLUDE_DIRS}
                           ${ZLIB_INCLUDE_DIRS} ${NETTLE_INCLUDE_DIRS})
if(ZIPDROP_STATIC_isal)
  target_compile_definitions(zipdrop_extractor PRIVATE ZIPDROP_ISAL_LINKED=1)
  target_link_libraries(zipdrop_extractor PUBLIC ${ZIPDROP_STATIC_isal})
endif()
target_link_libraries(zipdrop_extractor PUBLIC ${zipdrop_deflate} ${zipdrop_lzma} ${zipdrop_zstd}
                      ${zipdrop_bz2} ${zipdrop_z} ${zipdrop_nettle} Threads::Threads
                      ${CMAKE_DL_LIBS} zipdrop_posix_error)
