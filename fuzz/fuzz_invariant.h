// What a fuzzer does when a checked property does not hold: says which one and aborts, so that
// libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zipdrop {

[[noreturn]] inline void Violation(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s\n  %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace zipdrop
