// Fuzzes the POSIX ZIP extractor: the input is written as an archive file, extracted into a new
// empty folder, and the tree around it is checked. Whatever the bytes, nothing may appear outside
// the destination, no temporary file may stay, no link, FIFO or device may be made, and the
// program's own folder removal must then be able to take the whole tree away.

#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_invariant.h"
#include "fuzz/fuzz_sandbox.h"
#include "platform/posix/ui/skip_summary.h"
#include "zipdrop/extractor/extractor_error.h"
#include "zipdrop/extractor/zip_extractor.h"

namespace {

// A few kilobytes of deflated data can stand for gigabytes. Files are capped well above what the
// checks need, and the write past the cap fails with EFBIG instead of killing the process, which
// the extractor must handle like a full disk.
constexpr rlim_t kFileSizeCap = 16 << 20;

void RaiseDescriptorLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// Gives one password, then Cancel, so that encrypted entries go through decryption too. The
// number of questions is bounded whatever the archive holds.
class OnePassword : public zipdrop::PasswordSource {
 public:
  std::optional<zipdrop::Secret> Ask(zipdrop::PasswordRequest, const std::string&) override {
    if (++asked_ > 4) std::abort();
    if (asked_ > 1) return std::nullopt;
    return zipdrop::Secret("fuzz");
  }

 private:
  int asked_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit fileSize{kFileSizeCap, kFileSizeCap};
  setrlimit(RLIMIT_FSIZE, &fileSize);
  // The checks walk the extracted tree holding one folder open per level.
  RaiseDescriptorLimit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace zipdrop;
  FuzzSandbox sandbox(std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    OnePassword passwords;
    ExtractionReport report = ExtractZipArchive(sandbox.ArchivePath(), sandbox.Destination(),
                                                {.passwords = &passwords});
    // The summary is built from names in any bytes; it must cope with all of them.
    (void)DescribeSkipped(report);
  } catch (const ExtractorError&) {
    // An archive that cannot be opened at all is refused as a whole; that is allowed.
  } catch (const std::exception& error) {
    Violation("the extractor threw something other than ExtractorError", error.what());
  }
  sandbox.CheckAfterExtraction();
  sandbox.RemoveAndCheck();
  return 0;
}
