// The fixed parts of ZIP records that more than one reader of the archive needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zipdrop {

inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralRecordSize = 46;
inline constexpr std::uint32_t kSaturated32 = 0xFFFFFFFF;

/// The bits of the general-purpose flag that the readers look at.
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
/// Two bits that tune the method: deflate's compression level, and for LZMA (bit 1) that the
/// stream marks its own end instead of stopping at the declared size.
inline constexpr std::uint16_t kFlagMethodOptions = 0x0006;
inline constexpr std::uint16_t kFlagLzmaEndMarker = 0x0002;
/// The entry's sizes and CRC follow its data.
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
/// Encrypted with PKWARE's strong encryption, which no free reader can open.
inline constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
/// The name (and comment) are UTF-8 whatever the code page of the system that wrote them.
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;

/// Compression methods, as the method field numbers them.
inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflate = 8;
inline constexpr std::uint16_t kMethodDeflate64 = 9;
inline constexpr std::uint16_t kMethodBzip2 = 12;
inline constexpr std::uint16_t kMethodLzma = 14;
inline constexpr std::uint16_t kMethodZstd = 93;
inline constexpr std::uint16_t kMethodXz = 95;
inline constexpr std::uint16_t kMethodPpmd = 98;
inline constexpr std::uint16_t kMethodAes = 99;  // WinZip AES: the real method is in its field.

/// The CRC-32 that ZIP records, continued from crc.
std::uint32_t ZipCrc32(std::string_view bytes, std::uint32_t crc = 0);

/// What a local header says. Only where the data starts is trusted when a central directory
/// exists; the rest serves to recover entries when it does not, and as a second reading of an
/// entry whose central values fail to decode its data.
struct LocalHeader {
  std::uint64_t dataOffset = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint32_t crc = 0;
  std::uint32_t modified = 0;  // DOS date << 16 | time.
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::string name;   // Filled only when asked for,
  std::string extra;  // as are the extra fields.
};

/// How much of a local header to read: its fixed fields only, which say where the data starts, or
/// its name and extra fields as well.
enum class LocalHeaderParts { kFixedFields, kWithNameAndExtra };

/// Reads the local header at offset; nothing when no complete one is there.
std::optional<LocalHeader> ReadLocalHeader(int fd, std::uint64_t offset, LocalHeaderParts parts);

}  // namespace zipdrop
