#include "platform/posix/extractor/entry_names.h"

#include <iconv.h>
#include <limits.h>

#include <cerrno>
#include <cstdio>
#include <optional>

namespace zipdrop {

namespace {

// Owns one iconv conversion descriptor.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  ~IconvHandle() {
    if (Valid()) iconv_close(cd_);
  }
  bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

// The bytes converted to UTF-8, or nothing when any byte is not valid in the source charset.
// No //IGNORE or //TRANSLIT: the point is to learn whether the whole name fits the charset.
std::optional<std::string> ConvertStrictly(const char* charset, std::string_view bytes) {
  IconvHandle converter("UTF-8", charset);
  if (!converter.Valid()) return std::nullopt;
  std::string out(bytes.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  if (iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
    return std::nullopt;
  }
  out.resize(out.size() - outLeft);
  return out;
}

// "C:" and also "C:name", which Windows reads relative to the current folder of drive C.
bool StartsWithDrive(std::string_view component) {
  return component.size() >= 2 && component[1] == ':' &&
         ((component[0] >= 'A' && component[0] <= 'Z') ||
          (component[0] >= 'a' && component[0] <= 'z'));
}

// Control characters are refused in names: Windows cannot create such a name at all, and on
// POSIX a name carrying an escape sequence or a newline misleads terminals and scripts that list
// the folder later. Over-long names are refused before any folder of them is made, so the answer
// does not depend on how far a walk gets before the kernel says ENAMETOOLONG.
bool IsUnusable(std::string_view name, const std::vector<std::string>& components) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  std::size_t total = 0;
  for (const std::string& component : components) {
    if (component.size() > NAME_MAX) return true;
    total += component.size() + 1;
  }
  return total >= PATH_MAX;
}

// The length of the valid UTF-8 sequence at bytes[i], or 0 when it is not one: no overlong forms,
// no surrogates, nothing past U+10FFFF. Checked here rather than through iconv because nearly
// every name is UTF-8 (or ASCII), and the first iconv_open of a run loads glibc's converter
// table, which costs a one-file archive about a millisecond of its start.
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  unsigned char lead = byte(i);
  std::size_t length = lead < 0x80   ? 1
                       : lead < 0xC2 ? 0
                       : lead < 0xE0 ? 2
                       : lead < 0xF0 ? 3
                       : lead < 0xF5 ? 4
                                     : 0;
  if (length == 0 || i + length > bytes.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  // The second byte's range rules out overlong forms, surrogates and values past U+10FFFF.
  if (length > 2) {
    unsigned char second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
      return 0;
    }
  }
  return length;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// The code point of the valid sequence of the given length at text[i].
char32_t CodePointAt(std::string_view text, std::size_t i, std::size_t length) {
  static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t c = static_cast<unsigned char>(text[i]) & kLeadMask[length];
  for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (text[i + k] & 0x3F);
  return c;
}

// Characters that would act rather than show: C0 and C1 controls (a terminal takes ESC and the
// one-byte CSI U+009B as the start of a command), and the bidirectional controls, which reorder
// what follows them so that "inv" U+202E "gpj.exe" reads as a picture's name.
bool ActsRatherThanShows(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// A name as text to show: UTF-8 as it is, else CP932 when the whole name decodes as that (what
// Japanese Windows writes), else with each byte that is not UTF-8 shown as U+FFFD.
std::string ShowableText(std::string_view name) {
  if (IsValidUtf8(name)) return std::string(name);
  if (std::optional<std::string> text = ConvertStrictly("CP932", name)) return *text;
  std::string text;
  for (std::size_t i = 0; i < name.size();) {
    std::size_t length = Utf8SequenceLength(name, i);
    text.append(length == 0 ? std::string_view("\xEF\xBF\xBD") : name.substr(i, length));
    i += length == 0 ? 1 : length;
  }
  return text;
}

}  // namespace

std::string DecodeEntryName(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  for (const char* charset : {"CP932", "CP437"}) {
    if (std::optional<std::string> text = ConvertStrictly(charset, bytes)) return *text;
  }
  // CP437 gives every byte a character, so this is reached only when iconv lacks it; the raw
  // bytes still make a valid POSIX name.
  return std::string(bytes);
}

std::string EntryPath::Joined(size_t count) const {
  std::string path;
  for (size_t i = 0; i < count && i < components.size(); ++i) {
    if (i > 0) path += '/';
    path += components[i];
  }
  return path;
}

EntryPath SplitEntryPath(std::string_view name) {
  EntryPath path;
  bool absolute = !name.empty() && (name.front() == '/' || name.front() == '\\');
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    std::string_view component = name.substr(start, end - start);
    if (component == ".." || (path.components.empty() && StartsWithDrive(component))) {
      absolute = true;
    } else if (!component.empty() && component != ".") {
      path.components.emplace_back(component);
    }
    start = end + 1;
  }
  if (absolute) {
    path.problem = NameProblem::kLeavesFolder;
  } else if (path.components.empty()) {
    path.problem = NameProblem::kEmpty;
  } else if (IsUnusable(name, path.components)) {
    path.problem = NameProblem::kUnusable;
  }
  return path;
}

// A name is shown on the user's terminal and in windows; what acts there must show as an escape.
std::string PrintableName(std::string_view name) {
  std::string text = ShowableText(name);
  std::string printable;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = Utf8SequenceLength(text, i);
    char32_t c = CodePointAt(text, i, length);
    if (ActsRatherThanShows(c)) {
      char escaped[12];
      if (c < 0x80) {
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
      } else {
        std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      }
      printable += escaped;
    } else {
      printable.append(text, i, length);
    }
    i += length;
  }
  return printable;
}

}  // namespace zipdrop
