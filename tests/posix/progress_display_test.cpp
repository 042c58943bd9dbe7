#include "platform/posix/ui/progress_display.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>

#include <filesystem>

#include "platform/posix/ui/progress_text.h"
#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

using namespace std::chrono_literals;
using testing::FakeDesktop;
using testing::ReadRecordedArguments;
using testing::ScopedEnvironment;
using testing::ScratchFolder;

struct LineCase {
  std::uint64_t written, total;
  double seconds;
  std::string line;
};

class ProgressLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ProgressLineTest, ShowsPercentageBarBytesAndRate) {
  const LineCase& c = GetParam();
  EXPECT_EQ(ProgressLine("a.zip", c.written, c.total, c.seconds), c.line);
}

// An archive that declares no sizes gets no percentage, and one that understates them stops at
// 100%.
INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressLineTest,
    ::testing::Values(
        LineCase{0, 0, 0, "a.zip  0 バイト"},
        LineCase{512, 1024, 1, "a.zip  50% [##########..........]  512 バイト / 1.0 KB  512 バイト/s"},
        LineCase{3 << 20, 3 << 19, 2,
                 "a.zip  100% [####################]  3.0 MB / 1.5 MB  1.5 MB/s"},
        LineCase{1536, 0, 0.5, "a.zip  1.5 KB  3.0 KB/s"}));

struct TextCase {
  std::uint64_t written, total;
  std::optional<double> rate;
  std::string text;
};

class ProgressTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ProgressTextTest, ShowsPercentageBytesRateAndTimeLeft) {
  const TextCase& c = GetParam();
  EXPECT_EQ(ProgressText(c.written, c.total, c.rate), c.text);
}

// The time left is rounded more coarsely as it grows; it is left out without a rate, at a
// standstill, and once an understated total has been passed.
INSTANTIATE_TEST_SUITE_P(
    Texts, ProgressTextTest,
    ::testing::Values(
        TextCase{0, 0, std::nullopt, "0 バイト"},
        TextCase{1 << 20, 4 << 20, 1 << 20, "25% — 1.0 MB / 4.0 MB — 1.0 MB/秒 — 残り約 3 秒"},
        TextCase{100ull << 20, 875ull << 20, 5 << 20,
                 "11% — 100.0 MB / 875.0 MB — 5.0 MB/秒 — 残り約 2 分 30 秒"},
        TextCase{0, 100ull << 30, 10 << 20, "0% — 0 バイト / 100.0 GB — 10.0 MB/秒 — 残り約 2 時間 50 分"},
        TextCase{512, 1024, 0, "50% — 512 バイト / 1.0 KB — 0 バイト/秒"},
        TextCase{3 << 20, 3 << 19, 1 << 20, "99% — 3.0 MB / 1.5 MB — 1.0 MB/秒"},
        TextCase{1536, 0, 1536, "1.5 KB — 1.5 KB/秒"}));

// A change of pace shows in the rate only as it fills the last five seconds, and nothing is
// guessed from less than a second.
TEST(RecentRateTest, AveragesOverTheLastSeconds) {
  RecentRate rate;
  rate.Add(0, 0);
  rate.Add(0.5, 500);
  EXPECT_FALSE(rate.BytesPerSecond());
  std::uint64_t written = 500;
  for (double t = 0.75; t <= 12; t += 0.25) {
    written += t <= 10 ? 250 : 750;
    rate.Add(t, written);
  }
  EXPECT_DOUBLE_EQ(*rate.BytesPerSecond(), 1800);
}

// Reads from fd until text has arrived, or gives up after a few seconds.
std::string ReadUntil(int fd, const std::string& text) {
  std::string seen;
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 100) != 1) continue;
    char buffer[512];
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(count));
  }
  return seen;
}

class ProgressDisplayTest : public ::testing::Test {
 protected:
  ProgressDisplayTest() { progress_.SetDeclaredTotal(1000); }

  ProgressSettings Settings(int terminalFd) const {
    return {"a&b.zip", destination_.Path(), nullptr, 0ms, terminalFd};
  }

  ExtractionProgress progress_;
  ScratchFolder destination_;
};

TEST_F(ProgressDisplayTest, RedrawsOneLineOnATerminalAndSaysWhereTheFilesWent) {
  ScopedEnvironment display("DISPLAY", std::nullopt), wayland("WAYLAND_DISPLAY", std::nullopt);
  int master = -1, terminal = -1;
  ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  std::filesystem::create_directory(destination_ / "a&b");
  progress_.AddWritten(500);
  {
    ProgressDisplay display(progress_, Settings(terminal));
    EXPECT_NE(ReadUntil(master, "\x1b[K").find("\ra&b.zip  50% [##########"), std::string::npos);
    display.Finish(3);
    std::string end = ReadUntil(master, "\n");
    // The folder the files went into; which folder is opened is not the display's business.
    EXPECT_NE(end.find("\r\x1b[K3 件を展開しました → " + destination_.Path()), std::string::npos)
        << end;
    EXPECT_EQ(end.find("a&b"), std::string::npos) << end;
  }
  close(master);
  close(terminal);
}

TEST_F(ProgressDisplayTest, StaysQuietWhenStandardErrorIsNoTerminal) {
  ScopedEnvironment display("DISPLAY", std::nullopt), wayland("WAYLAND_DISPLAY", std::nullopt);
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0);
  ProgressDisplay(progress_, Settings(ends[1])).Finish(3);
  char byte;
  EXPECT_EQ(read(ends[0], &byte, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  close(ends[0]);
  close(ends[1]);
}

// The window's Cancel button makes zenity end with status 1, which cancels the extraction; the
// name is shown literally although zenity reads markup.
TEST_F(ProgressDisplayTest, CancelInTheWindowCancelsTheExtraction) {
  FakeDesktop desktop;
  std::string record = destination_ / "record";
  testing::WriteFile(desktop.Bin() / "zenity",
                     "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + record +
                         "'\nread percentage\nexit 1\n",
                     0755);
  ProgressDisplay display(progress_, Settings(-1));
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!progress_.Cancelled() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(progress_.Cancelled());
  display.Finish(0);
  std::vector<std::string> arguments = ReadRecordedArguments(record);
  ASSERT_GE(arguments.size(), 2u);
  EXPECT_EQ(arguments[0], "--progress");
  EXPECT_NE(std::find(arguments.begin(), arguments.end(), "--text=a&amp;b.zip を展開しています"),
            arguments.end());
}

}  // namespace
}  // namespace zipdrop
