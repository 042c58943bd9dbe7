#include "platform/posix/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zipdrop {
namespace {

struct SplitCase {
  const char* label;
  std::u16string line;
  std::vector<std::u16string> arguments;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsLikeWindows) {
  EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{"Empty", u"", {}},
        SplitCase{"OnlyBlanks", u" \t ", {}},
        SplitCase{"ProgramOnly", u"notepad.exe", {u"notepad.exe"}},
        SplitCase{"BlanksAndTabsSeparate", u"  prog a\tb   c ", {u"prog", u"a", u"b", u"c"}},
        SplitCase{"QuotedProgramWithBlank", u"\"C:\\Program Files\\x.exe\" a",
                  {u"C:\\Program Files\\x.exe", u"a"}},
        SplitCase{"ProgramKeepsBackslashBeforeQuote", u"\"C:\\dir\\\" a", {u"C:\\dir\\", u"a"}},
        SplitCase{"QuotedArgumentWithBlanks", u"p \"a b\"  c", {u"p", u"a b", u"c"}},
        SplitCase{"QuotesInsideAnArgument", u"p a\"b c\"d", {u"p", u"ab cd"}},
        SplitCase{"EmptyQuotedArgument", u"p \"\" x", {u"p", u"", u"x"}},
        SplitCase{"BackslashesWithoutQuoteAreLiteral", u"p a\\\\b\\", {u"p", u"a\\\\b\\"}},
        SplitCase{"OddBackslashesEscapeQuote", u"p a\\\"b", {u"p", u"a\"b"}},
        SplitCase{"EvenBackslashesThenQuote", u"p \"a\\\\\" b", {u"p", u"a\\", u"b"}},
        SplitCase{"ThreeBackslashesThenQuote", u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
        SplitCase{"DoubledQuoteInsideQuotes", u"p \"a\"\"b\" c", {u"p", u"a\"b", u"c"}},
        SplitCase{"UnclosedQuoteRunsToEnd", u"p \"a b", {u"p", u"a b"}},
        SplitCase{"NonAsciiKept", u"p \"解凍 先\"", {u"p", u"解凍 先"}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace zipdrop
