// Decryption of entries encrypted by a real archiver, each scheme it writes: the right password
// gives the content back and authenticates it; a wrong one, or a changed byte, never passes.
#include "platform/posix/extractor/zip_decryption.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/posix/ui/skip_summary.h"
#include "tests/posix/extractor_fixture.h"
#include "zipdrop/extractor/zip_extractor.h"

namespace zipdrop {
namespace {

using testing::ReadFile;

// The extractor's fixture, with a.zip made by a real archiver from files written beside it.
class ArchiverFixture : public testing::ExtractorFixture {
 protected:
  // Runs the command in the folder that holds the archive's path; it makes a.zip there.
  void Archive(const std::string& command) {
    std::string line = "cd '" + root_.string() + "' && " + command + " >/dev/null";
    ASSERT_EQ(std::system(line.c_str()), 0) << "7zz and zip are needed: " << line;
  }
};

// The one entry of an archive, as its local header places it.
struct RawEntry {
  EncryptionScheme scheme;
  std::vector<unsigned char> header, content, trailer;
};

std::uint32_t Read(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

RawEntry FirstEntry(const std::string& zip) {
  RawEntry entry;
  std::size_t nameLength = Read(zip, 26, 2), extraLength = Read(zip, 28, 2);
  std::string extra = zip.substr(30 + nameLength, extraLength);
  entry.scheme.aes = FindAesField({reinterpret_cast<const unsigned char*>(extra.data()), extra.size()});
  bool descriptor = Read(zip, 6, 2) & 8;
  entry.scheme.checkByte = static_cast<std::uint8_t>(descriptor ? Read(zip, 11, 1) : Read(zip, 17, 1));
  std::size_t start = 30 + nameLength + extraLength, size = Read(zip, 18, 4);
  auto bytes = [&](std::size_t from, std::size_t count) {
    return std::vector<unsigned char>(zip.begin() + from, zip.begin() + from + count);
  };
  std::size_t head = entry.scheme.HeaderSize(), tail = entry.scheme.TrailerSize();
  entry.header = bytes(start, head);
  entry.content = bytes(start + head, size - head - tail);
  entry.trailer = bytes(start + size - tail, tail);
  return entry;
}

// The content decrypted with password, or nothing when the header refused it.
std::optional<std::string> Decrypt(RawEntry entry, const std::string& password, bool* authentic) {
  auto decryption = StartDecryption(entry.scheme, password, entry.header);
  if (!decryption) return std::nullopt;
  // In pieces of odd sizes, as the data arrives from the archive.
  for (std::size_t at = 0; at < entry.content.size(); at += 777) {
    std::size_t count = std::min<std::size_t>(777, entry.content.size() - at);
    decryption->Decrypt({entry.content.data() + at, count});
  }
  *authentic = decryption->Authenticates(entry.trailer);
  return std::string(entry.content.begin(), entry.content.end());
}

struct SchemeCase {
  const char* method;  // The archiver's -mem value.
  std::size_t keyLength;
};

class ZipDecryptionTest : public ArchiverFixture, public ::testing::WithParamInterface<SchemeCase> {
 protected:
  void SetUp() override {
    ArchiverFixture::SetUp();
    for (int i = 0; i < 3000; ++i) content_ += "line " + std::to_string(i) + " of the secret\n";
    testing::WriteFile(root_ / "secret.txt", content_);
    ASSERT_NO_FATAL_FAILURE(Archive(std::string("7zz a -tzip -mx0 -p'Open sesame 26' -mem=") +
                                    GetParam().method + " a.zip secret.txt"));
    entry_ = FirstEntry(ReadFile(archive_));
  }
  std::string content_;
  RawEntry entry_;
};

TEST_P(ZipDecryptionTest, RightPasswordOnlyGivesTheContent) {
  EXPECT_EQ(entry_.scheme.aes ? entry_.scheme.aes->keyLength : 0, GetParam().keyLength);
  bool authentic = false;
  EXPECT_TRUE(Decrypt(entry_, "Open sesame 26", &authentic) == content_);
  EXPECT_TRUE(authentic);
  for (const char* wrong : {"", "open sesame 26", "Open sesame 2", "wrong"}) {
    std::optional<std::string> decrypted = Decrypt(entry_, wrong, &authentic);
    // A wrong password may pass the header's short check, but never gives the content.
    EXPECT_TRUE(!decrypted || (*decrypted != content_ && !(entry_.scheme.aes && authentic)))
        << wrong;
  }
  entry_.content[entry_.content.size() / 2] ^= 1;
  std::optional<std::string> changed = Decrypt(entry_, "Open sesame 26", &authentic);
  ASSERT_TRUE(changed);
  EXPECT_TRUE(*changed != content_);
  EXPECT_EQ(authentic, !entry_.scheme.aes);
}

INSTANTIATE_TEST_SUITE_P(Schemes, ZipDecryptionTest,
                         ::testing::Values(SchemeCase{"ZipCrypto", 0}, SchemeCase{"AES128", 16},
                                           SchemeCase{"AES192", 24}, SchemeCase{"AES256", 32}),
                         [](const auto& info) { return std::string(info.param.method); });


// The user's answers, in order, as a dialog or terminal would give them; nothing is Cancel.
class ScriptedPasswords : public PasswordSource {
 public:
  explicit ScriptedPasswords(std::vector<std::optional<std::string>> answers)
      : answers_(std::move(answers)) {}
  std::optional<Secret> Ask(PasswordRequest request, const std::string&) override {
    requests.push_back(request);
    if (requests.size() > answers_.size() || !answers_[requests.size() - 1]) return std::nullopt;
    return Secret(*answers_[requests.size() - 1]);
  }
  std::vector<PasswordRequest> requests;

 private:
  std::vector<std::optional<std::string>> answers_;
};

using Request = PasswordRequest;

struct PasswordCase {
  const char* label;
  std::vector<std::optional<std::string>> answers;
  std::vector<Request> asked;
  std::vector<std::string> extracted;  // Besides plain.txt, which never needs a password.
  SkipReason skippedAs = SkipReason::kEncrypted;
};

// An archive 7-Zip wrote: one.txt and big.txt (deflated, several blocks) under "one", two.txt
// under "two" and plain.txt without a password, in each scheme.
class PasswordProtectedArchiveTest
    : public ArchiverFixture,
      public ::testing::WithParamInterface<std::tuple<const char*, PasswordCase>> {
 protected:
  void SetUp() override {
    ArchiverFixture::SetUp();
    std::string big;
    for (int i = 0; i < 200000; ++i) big += std::to_string(i * 7919) + "\n";
    testing::WriteFile(root_ / "one.txt", "first secret");
    testing::WriteFile(root_ / "big.txt", big);
    testing::WriteFile(root_ / "two.txt", "second secret");
    testing::WriteFile(root_ / "plain.txt", "open");
    std::string add = std::string("7zz a -tzip -mem=") + std::get<0>(GetParam()) + " a.zip ";
    ASSERT_NO_FATAL_FAILURE(Archive(add + "-pone one.txt big.txt"));
    ASSERT_NO_FATAL_FAILURE(Archive(add + "-ptwo two.txt"));
    ASSERT_NO_FATAL_FAILURE(Archive(add + "plain.txt"));
  }
};

TEST_P(PasswordProtectedArchiveTest, AsksAsTheUserExpectsAndWritesOnlyWhatOpened) {
  const PasswordCase& c = std::get<1>(GetParam());
  ScriptedPasswords passwords(c.answers);
  ExtractionReport report =
      ExtractZipArchive(archive_, out_.string(), {.workers = 1, .passwords = &passwords});
  EXPECT_EQ(passwords.requests, c.asked);
  std::vector<std::string> expected = c.extracted;
  expected.push_back("plain.txt");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(testing::ListTree(out_), expected) << DescribeSkipped(report);
  for (const std::string& name : expected) {
    EXPECT_EQ(ReadFile(out_ / name), ReadFile(root_ / name)) << name;
  }
  EXPECT_EQ(report.SkippedFor(c.skippedAs), 3 - c.extracted.size()) << DescribeSkipped(report);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PasswordProtectedArchiveTest,
    ::testing::Combine(
        ::testing::Values("ZipCrypto", "AES128", "AES256"),
        ::testing::Values(
            PasswordCase{"BothGiven", {"one", "two"}, {Request::kFirst, Request::kAnotherEntry},
                         {"big.txt", "one.txt", "two.txt"}},
            PasswordCase{"WrongThenRight",
                         {"uno", "one", std::nullopt},
                         {Request::kFirst, Request::kWrong, Request::kAnotherEntry},
                         {"big.txt", "one.txt"},
                         SkipReason::kWrongPassword},
            PasswordCase{"WrongThreeTimes",
                                       {"a", "b", "c"},
                                       {Request::kFirst, Request::kWrong, Request::kWrong},
                                       {},
                                       SkipReason::kWrongPassword},
                          PasswordCase{"Cancelled", {std::nullopt}, {Request::kFirst}, {}},
            PasswordCase{"SecondWrongAsksNoMore",
                         {"one", "uno"},
                         {Request::kFirst, Request::kAnotherEntry},
                         {"big.txt", "one.txt"},
                         SkipReason::kWrongPassword})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param)) + std::get<1>(info.param).label;
    });

struct ArchiverCase {
  const char* label;
  const char* command;  // Encrypts secret.txt into a.zip with the password "pw".
};

class ArchiverPasswordTest : public ArchiverFixture,
                             public ::testing::WithParamInterface<ArchiverCase> {};

// What each zip tool writes opens with the right password, and the header's check alone turns
// away nearly every wrong one, large entries being tried on nothing else before they are written.
TEST_P(ArchiverPasswordTest, OpensWithTheRightPasswordAndChecksTheWrongOnes) {
  std::string content;
  for (int i = 0; i < 5000; ++i) content += "row " + std::to_string(i) + "\n";
  testing::WriteFile(root_ / "secret.txt", content);
  ASSERT_NO_FATAL_FAILURE(Archive(GetParam().command));
  ScriptedPasswords passwords({"pw"});
  ExtractionReport report = ExtractZipArchive(archive_, out_.string(), {.passwords = &passwords});
  EXPECT_TRUE(ReadFile(out_ / "secret.txt") == content) << DescribeSkipped(report);
  RawEntry entry = FirstEntry(ReadFile(archive_));
  EXPECT_TRUE(StartDecryption(entry.scheme, "pw", entry.header));
  int passed = 0;
  for (int i = 0; i < 256; ++i) {
    passed += StartDecryption(entry.scheme, "pw" + std::to_string(i), entry.header) != nullptr;
  }
  EXPECT_LE(passed, 256 / 32) << "wrong passwords that passed the check";
}

INSTANTIATE_TEST_SUITE_P(
    Archivers, ArchiverPasswordTest,
    ::testing::Values(
        // Info-ZIP gives every encrypted entry a data descriptor, and an extended timestamp that
        // takes the place of the DOS time the check byte comes from.
        ArchiverCase{"InfoZip", "zip -q -P pw a.zip secret.txt"},
        ArchiverCase{"SevenZipAesPpmd", "7zz a -tzip -mem=AES256 -mm=PPMd -ppw a.zip secret.txt"}),
    [](const auto& info) { return std::string(info.param.label); });

struct DamageCase {
  const char* label;
  std::size_t size;  // a.txt, the entry damaged: this many times fill.
  char fill;
  bool understated;  // Its declared size cut down to 1,000 bytes, else a byte of it changed.
};

class DamagedEncryptedEntryTest : public ArchiverFixture,
                                  public ::testing::WithParamInterface<DamageCase> {};

// A damaged entry is reported as damaged, even when it is the one the password is first tried
// on: the right password stays right for the others. The password's trial on an entry that
// inflates past its declared size must stop at that size.
TEST_P(DamagedEncryptedEntryTest, LeavesThePasswordRightForTheOthers) {
  testing::WriteFile(root_ / "a.txt", std::string(GetParam().size, GetParam().fill));
  testing::WriteFile(root_ / "b.txt", "second");
  testing::WriteFile(root_ / "c.txt", "third");
  ASSERT_NO_FATAL_FAILURE(Archive("7zz a -tzip -mem=ZipCrypto -ppw a.zip a.txt b.txt c.txt"));
  std::string zip = ReadFile(archive_);
  if (GetParam().understated) zip.replace(zip.find("PK\1\2") + 24, 4, "\xE8\3\0\0", 4);
  if (!GetParam().understated) zip[30 + Read(zip, 26, 2) + Read(zip, 28, 2) + 40] ^= 1;
  testing::WriteFile(archive_, zip);
  ScriptedPasswords passwords({"pw"});
  ExtractionReport report =
      ExtractZipArchive(archive_, out_.string(), {.workers = 1, .passwords = &passwords});
  EXPECT_EQ(passwords.requests, std::vector<Request>{Request::kFirst});
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"b.txt", "c.txt"}));
  EXPECT_EQ(report.SkippedFor(SkipReason::kUnreadableData), 1u) << DescribeSkipped(report);
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedEncryptedEntryTest,
                         ::testing::Values(DamageCase{"ChangedByte", 100000, 'x', false},
                                           DamageCase{"InflatesPastItsSize", 64 << 20, 0, true}),
                         [](const auto& info) { return std::string(info.param.label); });

// A wrong password that passes ZipCrypto's one-byte check on an entry too large to try first is
// found out by the entry's content: the user hears that the password was wrong, and the entry is
// extracted with the right one given next.
using WrongPasswordTest = ArchiverFixture;

TEST_F(WrongPasswordTest, ThatPassesTheCheckByChanceIsAskedForAgain) {
  testing::WriteFile(root_ / "big.bin", std::string(5 << 20, 'b'));
  testing::WriteFile(root_ / "small.txt", "small");
  ASSERT_NO_FATAL_FAILURE(
      Archive("7zz a -tzip -mx0 -mem=ZipCrypto -pright a.zip big.bin small.txt"));
  RawEntry big = FirstEntry(ReadFile(archive_));
  int i = 0;
  while (i < 65536 && !StartDecryption(big.scheme, "w" + std::to_string(i), big.header)) ++i;
  std::string lucky = "w" + std::to_string(i);
  ScriptedPasswords passwords({lucky, "right"});
  ExtractionReport report =
      ExtractZipArchive(archive_, out_.string(), {.workers = 1, .passwords = &passwords});
  EXPECT_EQ(passwords.requests, (std::vector<Request>{Request::kFirst, Request::kWrong}));
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"big.bin", "small.txt"}))
      << DescribeSkipped(report);
}

}  // namespace
}  // namespace zipdrop
