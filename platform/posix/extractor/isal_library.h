// ISA-L's inflate, the fastest packaged. The release links it statically (built from Debian's
// source package by scripts/release); other builds load it at run time rather than link it, as
// Debian ships ISA-L only as a shared library and the program must start on a machine without
// it. Where it is missing, zlib's inflate (linked in) decodes DEFLATE instead, at about half the
// speed.
#pragma once

#include <isa-l/igzip_lib.h>

#include <cstdint>

namespace zipdrop {

struct IsalInflate {
  void (*init)(inflate_state*);
  int (*inflate)(inflate_state*);
  /// The window a stream started in the middle refers back to.
  int (*setDictionary)(inflate_state*, std::uint8_t*, std::uint32_t);
};

/// ISA-L's inflate when it is linked in or the system has libisal.so.2, else nullptr. Loaded once
/// per process.
const IsalInflate* LoadIsalInflate();

/// Makes LoadIsalInflate answer nullptr, as on a machine without ISA-L, so that tests reach the
/// decoder that stands in for it.
void ForceIsalMissing(bool missing);

}  // namespace zipdrop
