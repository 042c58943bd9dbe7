#include "platform/posix/ui/display_check.h"

#include <gtest/gtest.h>

#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

using testing::FakeCompositor;
using testing::ListeningSocket;
using testing::ScratchFolder;

struct XDisplayCase {
  const char* value;
  std::optional<std::string> host;  // Nothing when the value names no display.
  int number;
};

class ParseXDisplayTest : public ::testing::TestWithParam<XDisplayCase> {};

TEST_P(ParseXDisplayTest, FindsHostAndNumber) {
  std::optional<XDisplayAddress> address = ParseXDisplay(GetParam().value);
  ASSERT_EQ(address.has_value(), GetParam().host.has_value());
  if (!address) return;
  EXPECT_EQ(address->host, *GetParam().host);
  EXPECT_EQ(address->number, GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ParseXDisplayTest,
    ::testing::Values(XDisplayCase{":0", "", 0}, XDisplayCase{":1.0", "", 1},
                      XDisplayCase{"unix:12", "", 12},
                      XDisplayCase{"localhost:10.0", "localhost", 10},
                      XDisplayCase{"[::1]:3", "[::1]", 3}, XDisplayCase{"", std::nullopt, 0},
                      XDisplayCase{"0", std::nullopt, 0}, XDisplayCase{":", std::nullopt, 0},
                      XDisplayCase{":x", std::nullopt, 0}, XDisplayCase{":1x", std::nullopt, 0},
                      XDisplayCase{":-1", std::nullopt, 0}));

// A compositor that answers counts as a display; a socket that takes the connection and never
// answers (given up after the time limit, shortened here), one left behind by a server that died,
// or none at all do not; nor does one that answers once the caller has asked to stop.
TEST(DisplayAnswersTest, OnlyAServerThatAnswersCounts) {
  ScratchFolder sockets;
  FakeCompositor compositor(sockets / "wayland-1");
  ListeningSocket silentX(sockets / "X5"), silentWayland(sockets / "wayland-3");
  EXPECT_TRUE(WaylandDisplayAnswers("wayland-1", sockets.Path()));
  EXPECT_TRUE(WaylandDisplayAnswers(sockets / "wayland-1", ""));
  std::stop_source closing;
  closing.request_stop();
  EXPECT_FALSE(WaylandDisplayAnswers("wayland-1", sockets.Path(), closing.get_token()));
  EXPECT_FALSE(XDisplayAnswers(":5", sockets.Path(), {}, std::chrono::seconds(1)));
  EXPECT_FALSE(WaylandDisplayAnswers("wayland-3", sockets.Path(), {}, std::chrono::seconds(1)));
  EXPECT_FALSE(XDisplayAnswers(":6", sockets.Path()));
  EXPECT_FALSE(WaylandDisplayAnswers("wayland-2", sockets.Path()));
  EXPECT_FALSE(WaylandDisplayAnswers("wayland-1", ""));
  compositor.Close();
  EXPECT_FALSE(WaylandDisplayAnswers("wayland-1", sockets.Path()));
}

}  // namespace
}  // namespace zipdrop
