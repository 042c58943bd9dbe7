// Fuzzes the whole run of the program on the recording fake platform: any argument text, either
// separator, a choice of "Temp" values and a platform call made to fail. The run must never let
// an exception out, must speak only in its two messages, must point the clean-up only inside an
// absolute temporary folder, and must either reject the name or open a folder.
//
// Input layout: byte 0 picks the separator (bit 0), how the text is read (bit 1: UTF-8 bytes or
// little-endian UTF-16 code units), the spelling of the variable's name (bits 2-3) and the
// "Temp" value (bits 4-7); byte 1 below 0x40 is the index of the call made to fail; byte 2 picks
// the program folder (bits 0-1) and whether "Namespace" finds no folder there (bit 2). The rest
// is the argument text.

#include <cstdint>
#include <string>

#include "app/start_up.h"
#include "fuzz/fuzz_invariant.h"
#include "platform/posix/text_encoding.h"
#include "tests/fake_platform.h"

namespace zipdrop {
namespace {

const std::string kRejection = "エラー|Zipファイルではありません|16";
const std::string kUsageTitle = "使い方|";
const std::string kUsageIcon = "|48";
const std::u16string kHandlerPrefix = u"RunDll32.exe url.dll, FileProtocolHandler ";

// Temporary-folder values with what is known about them: whether they name an absolute folder
// when the platform's separator is '\' and when it is '/'.
struct TempCase {
  std::u16string value;
  bool absoluteOnWindows;
  bool absoluteOnPosix;
};

const TempCase kTempCases[16] = {
    {u"C:\\Users\\u\\AppData\\Local\\Temp", true, false},
    {u"/tmp", false, true},
    {u"", false, false},
    {u"Temp", false, false},
    {u"C:", false, false},
    {u"C:\\", true, false},
    {u"C:Temp", false, false},
    {u"\\\\server\\share\\tmp", true, false},
    {u"//server/share", true, true},
    {u"\\tmp", false, false},
    {u"c:/x", true, false},
    {u"1:\\x", false, false},
    {u"..\\tmp", false, false},
    {u"/", false, true},
    {u"\\\\", false, false},
    {u"/tmp/Temporary Directory 1", false, true},
};

// The spellings of the variable's name; the last one is another variable, so "Temp" is unset.
const char16_t* const kTempNames[4] = {u"TEMP", u"temp", u"Temp", u"TMP"};

const std::u16string kProgramFolders[4] = {u"D:\\tools", u"/opt/zipdrop", u"", u"C:\\a.b\\c"};

// The fake platform, keeping the exact UTF-16 pattern that "deletefolder" was given.
class PatternKeepingPlatform : public FakePlatform {
 public:
  Value CallMember(const ObjectRef& object, const std::u16string& member,
                   const std::vector<Value>& arguments) override {
    if (member == u"deletefolder" && !arguments.empty()) {
      if (auto* text = std::get_if<std::u16string>(&arguments[0])) patterns.push_back(*text);
    }
    return FakePlatform::CallMember(object, member, arguments);
  }
  std::vector<std::u16string> patterns;
};

struct FuzzCase {
  PatternKeepingPlatform platform;
  std::u16string temp;  // What the run reads as "Temp": empty when the variable is unset.
  bool tempAbsolute = false;
};

std::u16string TextFrom(const std::uint8_t* data, size_t size, bool codeUnits) {
  if (!codeUnits) return FromSystemBytes({reinterpret_cast<const char*>(data), size});
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

void Configure(FuzzCase& fuzz, const std::uint8_t* data, size_t size) {
  FakePlatform& platform = fuzz.platform;
  platform.separator = (data[0] & 1) ? u'/' : u'\\';
  const TempCase& temp = kTempCases[data[0] >> 4];
  const char16_t* name = kTempNames[(data[0] >> 2) & 3];
  platform.environment = {{name, temp.value}};
  bool tempIsSet = std::u16string(name) != u"TMP";
  fuzz.temp = tempIsSet ? temp.value : u"";
  fuzz.tempAbsolute = tempIsSet && (platform.separator == u'/' ? temp.absoluteOnPosix
                                                                : temp.absoluteOnWindows);
  platform.failCallIndex = data[1] < 0x40 ? data[1] : -1;
  platform.programFolder = kProgramFolders[data[2] & 3];
  if (data[2] & 4) platform.missingPaths.insert(platform.programFolder);
  platform.argumentText = TextFrom(data + 3, size - 3, (data[0] & 2) != 0);
}

bool CallWasMadeToFail(const FakePlatform& platform) {
  return platform.failCallIndex >= 0 &&
         static_cast<size_t>(platform.failCallIndex) < platform.calls.size();
}

void CheckMessages(const FuzzCase& fuzz, bool failed) {
  const FakePlatform& platform = fuzz.platform;
  if (platform.messages.size() > 1) Violation("more than one message", platform.messages[1]);
  for (const std::string& message : platform.messages) {
    bool usage = message.starts_with(kUsageTitle) && message.ends_with(kUsageIcon);
    // The usage is for a start without argument; a platform that fails to give the argument
    // counts as one.
    bool usageAllowed = platform.argumentText.empty() || (failed && platform.failCallIndex == 0);
    if (message != kRejection && !(usage && usageAllowed)) Violation("unexpected message", message);
  }
}

void CheckCleanUp(const FuzzCase& fuzz, bool failed) {
  const PatternKeepingPlatform& platform = fuzz.platform;
  if (platform.patterns.size() > 1) Violation("clean-up called twice", Utf8(platform.patterns[1]));
  for (const std::u16string& pattern : platform.patterns) {
    if (!fuzz.tempAbsolute) Violation("clean-up with a relative Temp", Utf8(pattern));
    if (!pattern.starts_with(fuzz.temp + platform.separator)) {
      Violation("clean-up outside Temp", Utf8(pattern));
    }
  }
  bool accepted = platform.messages.empty() && !platform.argumentText.empty();
  if (accepted && !failed && fuzz.tempAbsolute && platform.patterns.empty()) {
    Violation("no clean-up for an accepted archive", Utf8(platform.argumentText));
  }
}

void CheckOutcome(const FuzzCase& fuzz, bool failed) {
  const FakePlatform& platform = fuzz.platform;
  if (platform.launches.size() > 1) Violation("more than one launch", platform.launches[1]);
  for (const std::string& launch : platform.launches) {
    if (!launch.starts_with(Utf8(kHandlerPrefix))) Violation("unexpected launch", launch);
  }
  bool rejected = !platform.messages.empty() && platform.messages[0] == kRejection;
  bool launched = !platform.launches.empty();
  if (rejected && launched) Violation("rejected and launched", platform.launches[0]);
  if (!platform.argumentText.empty() && !failed && !rejected && !launched) {
    Violation("neither rejected nor launched", Utf8(platform.argumentText));
  }
}

}  // namespace
}  // namespace zipdrop

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace zipdrop;
  if (size < 3) return -1;  // Rejected inputs are not added to the corpus.
  FuzzCase fuzz;
  Configure(fuzz, data, size);
  try {
    StartUp(fuzz.platform);
  } catch (const std::exception& error) {
    Violation("an exception left the run", error.what());
  } catch (...) {
    Violation("an exception left the run", "(not a std::exception)");
  }
  bool failed = CallWasMadeToFail(fuzz.platform);
  CheckMessages(fuzz, failed);
  CheckCleanUp(fuzz, failed);
  CheckOutcome(fuzz, failed);
  return 0;
}
