// Little-endian fields of ZIP records, read from bytes of any alignment.
#pragma once

#include <cstdint>

namespace zipdrop {

inline std::uint16_t ReadLe16(const char* bytes) {
  auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

inline std::uint32_t ReadLe32(const char* bytes) {
  return ReadLe16(bytes) | (static_cast<std::uint32_t>(ReadLe16(bytes + 2)) << 16);
}

inline std::uint64_t ReadLe64(const char* bytes) {
  return ReadLe32(bytes) | (static_cast<std::uint64_t>(ReadLe32(bytes + 4)) << 32);
}

}  // namespace zipdrop
