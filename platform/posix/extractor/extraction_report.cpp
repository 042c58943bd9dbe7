#include "zipdrop/extractor/extraction_report.h"

#include <algorithm>

#include "platform/posix/extractor/entry_names.h"

namespace zipdrop {

namespace {


ExtractionReport::Skipped& EntryFor(std::vector<ExtractionReport::Skipped>& skipped,
                                    SkipReason reason) {
  auto found = std::find_if(skipped.begin(), skipped.end(),
                            [&](const ExtractionReport::Skipped& s) { return s.reason == reason; });
  if (found == skipped.end()) found = skipped.insert(skipped.end(), {reason, 0, {}});
  return *found;
}

}  // namespace

void ExtractionReport::Skip(SkipReason reason, const std::string& name) {
  Skipped& entry = EntryFor(skipped, reason);
  ++entry.count;
  if (!name.empty()) entry.names.push_back(PrintableName(name));
}

void ExtractionReport::MarkMoreMayBeLost(SkipReason reason) {
  EntryFor(skipped, reason).moreMayBeLost = true;
}

void ExtractionReport::Merge(const ExtractionReport& part) {
  filesWritten += part.filesWritten;
  foldersCreated += part.foldersCreated;
  for (const Skipped& from : part.skipped) {
    Skipped& into = EntryFor(skipped, from.reason);
    into.count += from.count;
    into.moreMayBeLost = into.moreMayBeLost || from.moreMayBeLost;
    into.names.insert(into.names.end(), from.names.begin(), from.names.end());
  }
}

std::uint64_t ExtractionReport::SkippedFor(SkipReason reason) const {
  for (const Skipped& s : skipped) {
    if (s.reason == reason) return s.count;
  }
  return 0;
}

}  // namespace zipdrop
