#include "platform/windows/command_line.h"

#include <gtest/gtest.h>

namespace zipdrop {
namespace {

struct SplitCase {
  const char* label;
  const wchar_t* commandLine;
  const wchar_t* program;
  const wchar_t* arguments;
  const wchar_t* modulePath = L"";
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SeparatesProgramFromVerbatimArguments) {
  CommandLineParts parts = SplitCommandLine(GetParam().commandLine, GetParam().modulePath);
  EXPECT_EQ(parts.program, GetParam().program);
  EXPECT_EQ(parts.arguments, GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{"QuotedProgramQuotedArgument", LR"("C:\Program Files\zd\zipdrop.exe" "C:\a b\c.zip")",
                  LR"(C:\Program Files\zd\zipdrop.exe)", LR"("C:\a b\c.zip")"},
        SplitCase{"UnquotedProgram", LR"(C:\zd\zipdrop.exe C:\in\c.zip)", LR"(C:\zd\zipdrop.exe)",
                  LR"(C:\in\c.zip)"},
        SplitCase{"TabsAndBlanksAfterName", L"zipdrop.exe\t \t x.zip", L"zipdrop.exe", L"x.zip"},
        SplitCase{"QuotedNameThenTab", L"\"zipdrop.exe\"\tx.zip", L"zipdrop.exe", L"x.zip"},
        SplitCase{"QuotedNoArgument", LR"("C:\zd\zipdrop.exe")", LR"(C:\zd\zipdrop.exe)", L""},
        SplitCase{"UnquotedNoArgument", L"zipdrop.exe", L"zipdrop.exe", L""},
        SplitCase{"OnlyBlanksAfterName", L"\"zipdrop.exe\"   ", L"zipdrop.exe", L""},
        SplitCase{"ArgumentKeptVerbatim", L"zipdrop.exe  \"a.zip\" b\t c  ", L"zipdrop.exe",
                  L"\"a.zip\" b\t c  "},
        SplitCase{"QuoteInsideUnquotedName", L"C:\\z\"d\\zipdrop.exe x", L"C:\\zd\\zipdrop.exe x",
                  L""},
        SplitCase{"QuotesToggleInsideName", LR"(C:\"Program Files"\zd\zipdrop.exe a.zip)",
                  LR"(C:\Program Files\zd\zipdrop.exe)", L"a.zip"},
        SplitCase{"QuotedPieceThenMore", L"\"a\"b c", L"ab", L"c"},
        SplitCase{"UnquotedModulePath", LR"(C:\Program Files\zd\zipdrop.exe C:\in\a b.zip)",
                  LR"(C:\Program Files\zd\zipdrop.exe)", LR"(C:\in\a b.zip)",
                  LR"(C:\Program Files\zd\zipdrop.exe)"},
        SplitCase{"UnquotedModulePathOtherCase", LR"(c:\program files\ZD\zipdrop.exe)",
                  LR"(c:\program files\ZD\zipdrop.exe)", L"",
                  LR"(C:\Program Files\zd\zipdrop.exe)"},
        SplitCase{"LongerNameThanModulePath", LR"(C:\Program Files\zd\zipdrop.exe2 x)",
                  LR"(C:\Program)", LR"(Files\zd\zipdrop.exe2 x)",
                  LR"(C:\Program Files\zd\zipdrop.exe)"},
        SplitCase{"QuotedModulePath", LR"("C:\Program Files\zd\zipdrop.exe" x)",
                  LR"(C:\Program Files\zd\zipdrop.exe)", L"x",
                  LR"(C:\Program Files\zd\zipdrop.exe)"},
        SplitCase{"UnterminatedQuote", L"\"C:\\zd\\zipdrop.exe x.zip", L"C:\\zd\\zipdrop.exe x.zip",
                  L""},
        SplitCase{"BlankInsideQuotedName", L"\"a b.exe\" c", L"a b.exe", L"c"},
        SplitCase{"Empty", L"", L"", L""}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace zipdrop
