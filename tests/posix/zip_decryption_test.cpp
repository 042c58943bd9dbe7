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

#include "platform/posix/skip_summary.h"
#include "tests/posix/scratch_folder.h"
#include "zipdrop/extractor/zip_extractor.h"

namespace zipdrop {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;

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

class ZipDecryptionTest : public ::testing::TestWithParam<SchemeCase> {
 protected:
  void SetUp() override {
    for (int i = 0; i < 3000; ++i) content_ += "line " + std::to_string(i) + " of the secret\n";
    testing::WriteFile(folder_ / "secret.txt", content_);
    std::string command = "cd '" + folder_.Path() + "' && 7zz a -tzip -mx0 -p'Open sesame 26' -mem=" +
                          GetParam().method + " a.zip secret.txt >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << "7zz is needed: " << command;
    entry_ = FirstEntry(ReadFile(folder_ / "a.zip"));
  }
  ScratchFolder folder_;
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
    : public ::testing::TestWithParam<std::tuple<const char*, PasswordCase>> {
 protected:
  void SetUp() override {
    std::string big;
    for (int i = 0; i < 200000; ++i) big += std::to_string(i * 7919) + "\n";
    testing::WriteFile(folder_ / "one.txt", "first secret");
    testing::WriteFile(folder_ / "big.txt", big);
    testing::WriteFile(folder_ / "two.txt", "second secret");
    testing::WriteFile(folder_ / "plain.txt", "open");
    std::string add = "cd '" + folder_.Path() + "' && 7zz a -tzip -mem=" +
                      std::get<0>(GetParam()) + " a.zip ";
    ASSERT_EQ(std::system((add + "-pone one.txt big.txt >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((add + "-ptwo two.txt >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((add + "plain.txt >/dev/null").c_str()), 0);
    std::filesystem::create_directory(out_);
  }
  testing::ScratchFolder folder_;
  std::string out_ = folder_ / "out";
};

TEST_P(PasswordProtectedArchiveTest, AsksAsTheUserExpectsAndWritesOnlyWhatOpened) {
  const PasswordCase& c = std::get<1>(GetParam());
  ScriptedPasswords passwords(c.answers);
  ExtractionReport report =
      ExtractZipArchive(folder_ / "a.zip", out_, {.workers = 1, .passwords = &passwords});
  EXPECT_EQ(passwords.requests, c.asked);
  std::vector<std::string> expected = c.extracted;
  expected.push_back("plain.txt");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(testing::ListTree(out_), expected) << DescribeSkipped(report);
  for (const std::string& name : expected) {
    EXPECT_EQ(ReadFile(out_ + "/" + name), ReadFile(folder_ / name)) << name;
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

// Runs the command in the folder; it makes a.zip there.
void Archive(const ScratchFolder& folder, const std::string& command) {
  std::string line = "cd '" + folder.Path() + "' && " + command + " >/dev/null";
  ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

struct ArchiverCase {
  const char* label;
  const char* command;  // Encrypts secret.txt into a.zip with the password "pw".
};

class ArchiverPasswordTest : public ::testing::TestWithParam<ArchiverCase> {};

// What each zip tool writes opens with the right password, and the header's check alone turns
// away nearly every wrong one, large entries being tried on nothing else before they are written.
TEST_P(ArchiverPasswordTest, OpensWithTheRightPasswordAndChecksTheWrongOnes) {
  ScratchFolder folder;
  std::string content;
  for (int i = 0; i < 5000; ++i) content += "row " + std::to_string(i) + "\n";
  testing::WriteFile(folder / "secret.txt", content);
  Archive(folder, GetParam().command);
  std::filesystem::create_directory(folder / "out");
  ScriptedPasswords passwords({"pw"});
  ExtractionReport report =
      ExtractZipArchive(folder / "a.zip", folder / "out", {.passwords = &passwords});
  EXPECT_TRUE(ReadFile(folder / "out/secret.txt") == content) << DescribeSkipped(report);
  RawEntry entry = FirstEntry(ReadFile(folder / "a.zip"));
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

class DamagedEncryptedEntryTest : public ::testing::TestWithParam<DamageCase> {};

// A damaged entry is reported as damaged, even when it is the one the password is first tried
// on: the right password stays right for the others. The password's trial on an entry that
// inflates past its declared size must stop at that size.
TEST_P(DamagedEncryptedEntryTest, LeavesThePasswordRightForTheOthers) {
  ScratchFolder folder;
  testing::WriteFile(folder / "a.txt", std::string(GetParam().size, GetParam().fill));
  testing::WriteFile(folder / "b.txt", "second");
  testing::WriteFile(folder / "c.txt", "third");
  Archive(folder, "7zz a -tzip -mem=ZipCrypto -ppw a.zip a.txt b.txt c.txt");
  std::string zip = ReadFile(folder / "a.zip");
  if (GetParam().understated) zip.replace(zip.find("PK\1\2") + 24, 4, "\xE8\3\0\0", 4);
  if (!GetParam().understated) zip[30 + Read(zip, 26, 2) + Read(zip, 28, 2) + 40] ^= 1;
  testing::WriteFile(folder / "a.zip", zip);
  std::filesystem::create_directory(folder / "out");
  ScriptedPasswords passwords({"pw"});
  ExtractionReport report =
      ExtractZipArchive(folder / "a.zip", folder / "out", {.workers = 1, .passwords = &passwords});
  EXPECT_EQ(passwords.requests, std::vector<Request>{Request::kFirst});
  EXPECT_EQ(testing::ListTree(folder / "out"), (std::vector<std::string>{"b.txt", "c.txt"}));
  EXPECT_EQ(report.SkippedFor(SkipReason::kUnreadableData), 1u) << DescribeSkipped(report);
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedEncryptedEntryTest,
                         ::testing::Values(DamageCase{"ChangedByte", 100000, 'x', false},
                                           DamageCase{"InflatesPastItsSize", 64 << 20, 0, true}),
                         [](const auto& info) { return std::string(info.param.label); });

// A wrong password that passes ZipCrypto's one-byte check on an entry too large to try first is
// found out by the entry's content: the user hears that the password was wrong, and the entry is
// extracted with the right one given next.
TEST(WrongPasswordTest, ThatPassesTheCheckByChanceIsAskedForAgain) {
  ScratchFolder folder;
  testing::WriteFile(folder / "big.bin", std::string(5 << 20, 'b'));
  testing::WriteFile(folder / "small.txt", "small");
  Archive(folder, "7zz a -tzip -mx0 -mem=ZipCrypto -pright a.zip big.bin small.txt");
  RawEntry big = FirstEntry(ReadFile(folder / "a.zip"));
  int i = 0;
  while (i < 65536 && !StartDecryption(big.scheme, "w" + std::to_string(i), big.header)) ++i;
  std::string lucky = "w" + std::to_string(i);
  std::filesystem::create_directory(folder / "out");
  ScriptedPasswords passwords({lucky, "right"});
  ExtractionReport report =
      ExtractZipArchive(folder / "a.zip", folder / "out", {.workers = 1, .passwords = &passwords});
  EXPECT_EQ(passwords.requests, (std::vector<Request>{Request::kFirst, Request::kWrong}));
  EXPECT_EQ(testing::ListTree(folder / "out"), (std::vector<std::string>{"big.bin", "small.txt"}))
      << DescribeSkipped(report);
}

}  // namespace
}  // namespace zipdrop
