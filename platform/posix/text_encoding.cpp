#include "platform/posix/text_encoding.h"

#include <cstdint>

// iconv stops at the first invalid byte and has no escape for it, yet a POSIX file name is any
// string of bytes. The escape scheme below (the one PEP 383 made common) needs a decoder that
// knows where each invalid byte lies, so the UTF-8 walk is our own; the legacy code pages are
// left to iconv.

namespace zipdrop {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // Byte b >= 0x80 escapes to U+DC00 + b.
constexpr char16_t kReplacement = 0xFFFD;

// Length of the valid UTF-8 sequence at bytes[i] and its code point, or 0 when it is invalid
// (overlong forms, surrogates and values past U+10FFFF are invalid).
size_t DecodeSequence(std::string_view bytes, size_t i, char32_t& codePoint) {
  auto byteAt = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
  uint8_t lead = byteAt(i);
  size_t length;
  char32_t minimum;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > bytes.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    uint8_t next = byteAt(i + k);
    if ((next & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  if (codePoint < minimum || codePoint > 0x10FFFF || surrogate) return 0;
  return length;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::u16string FromSystemBytes(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    char32_t c;
    size_t length = DecodeSequence(bytes, i, c);
    if (length == 0) {
      text.push_back(static_cast<char16_t>(kEscapeBase + static_cast<uint8_t>(bytes[i])));
      i += 1;
    } else if (c >= 0x10000) {
      c -= 0x10000;
      text.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
      i += length;
    } else {
      text.push_back(static_cast<char16_t>(c));
      i += length;
    }
  }
  return text;
}

std::string ToSystemBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t unit = text[i];
    bool high = unit >= 0xD800 && unit <= 0xDBFF;
    bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      char32_t c = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
      AppendUtf8(bytes, c);
      ++i;
    } else if (low && unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      bytes.push_back(static_cast<char>(unit - kEscapeBase));
    } else if (high || low) {
      AppendUtf8(bytes, kReplacement);
    } else {
      AppendUtf8(bytes, unit);
    }
  }
  return bytes;
}

}  // namespace zipdrop
