#include "platform/posix/command_line.h"

namespace zipdrop {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

size_t SkipBlanks(std::u16string_view line, size_t i) {
  while (i < line.size() && IsBlank(line[i])) ++i;
  return i;
}

std::u16string ReadProgramName(std::u16string_view line, size_t& i) {
  if (line[i] == u'"') {
    size_t close = line.find(u'"', i + 1);
    size_t end = close == std::u16string_view::npos ? line.size() : close;
    std::u16string name(line.substr(i + 1, end - i - 1));
    i = close == std::u16string_view::npos ? line.size() : close + 1;
    return name;
  }
  size_t start = i;
  while (i < line.size() && !IsBlank(line[i])) ++i;
  return std::u16string(line.substr(start, i - start));
}

// Appends the run of backslashes at line[i] and leaves i on the character after them, or on a
// double quote that still has to be read as one.
void ReadBackslashes(std::u16string_view line, size_t& i, std::u16string& argument) {
  size_t count = 0;
  while (i < line.size() && line[i] == u'\\') ++count, ++i;
  bool beforeQuote = i < line.size() && line[i] == u'"';
  if (!beforeQuote) {
    argument.append(count, u'\\');
    return;
  }
  argument.append(count / 2, u'\\');
  if (count % 2 == 1) {
    argument.push_back(u'"');
    ++i;
  }
}

std::u16string ReadArgument(std::u16string_view line, size_t& i) {
  std::u16string argument;
  bool quoted = false;
  while (i < line.size() && (quoted || !IsBlank(line[i]))) {
    char16_t c = line[i];
    if (c == u'\\') {
      ReadBackslashes(line, i, argument);
    } else if (c == u'"' && quoted && i + 1 < line.size() && line[i + 1] == u'"') {
      argument.push_back(u'"');
      i += 2;
    } else if (c == u'"') {
      quoted = !quoted;
      ++i;
    } else {
      argument.push_back(c);
      ++i;
    }
  }
  return argument;
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> arguments;
  size_t i = SkipBlanks(line, 0);
  if (i == line.size()) return arguments;
  arguments.push_back(ReadProgramName(line, i));
  while ((i = SkipBlanks(line, i)) < line.size()) arguments.push_back(ReadArgument(line, i));
  return arguments;
}

}  // namespace zipdrop
