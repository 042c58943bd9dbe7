#include "app/start_up.h"

#include <gtest/gtest.h>

#include "tests/fake_platform.h"

namespace zipdrop {
namespace {

const char kUsage[] =
    "使い方|解凍したいZIPファイルをこのアイコンの上にドラッグすると、\r\n"
    "アイコンのある同じ場所にファイルが解凍されます。|48";

TEST(StartUpTest, WithoutArgumentShowsOnlyTheUsageMessage) {
  FakePlatform platform;
  StartUp(platform);
  EXPECT_EQ(platform.messages, std::vector<std::string>{kUsage});
  EXPECT_EQ(platform.calls, (std::vector<std::string>{"ReadArgumentText()", "ShowMessage(使い方)"}));
}

TEST(StartUpTest, UnreadableArgumentCountsAsNoArgument) {
  FakePlatform platform;
  platform.argumentText = u"C:\\data\\photos.zip";
  platform.failWhenStartsWith = {"ReadArgumentText"};
  StartUp(platform);
  EXPECT_EQ(platform.messages, std::vector<std::string>{kUsage});
  EXPECT_TRUE(platform.launches.empty());
}

TEST(StartUpTest, FailingUsageMessageDoesNotEscape) {
  FakePlatform platform;
  platform.failWhenStartsWith = {"ShowMessage"};
  EXPECT_NO_THROW(StartUp(platform));
}

TEST(StartUpTest, BlankArgumentGoesToTheRunAndIsRejected) {
  FakePlatform platform;
  platform.argumentText = u"   ";
  StartUp(platform);
  EXPECT_EQ(platform.messages, std::vector<std::string>{"エラー|Zipファイルではありません|16"});
}

TEST(StartUpTest, ArchiveArgumentIsExtractedWithoutUsageMessage) {
  FakePlatform platform;
  platform.argumentText = u"C:\\data\\photos.zip";
  StartUp(platform);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(platform.launches,
            std::vector<std::string>{"RunDll32.exe url.dll, FileProtocolHandler D:\\tools\\photos"});
}

}  // namespace
}  // namespace zipdrop
