// The one error the extractor throws: an archive or a folder that cannot be opened or read at
// all. Everything less is a skipped entry or a refusal in the report.
#pragma once

#include <stdexcept>

namespace zipdrop {

class ExtractorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace zipdrop
