#!/usr/bin/env bash
# Builds the libFuzzer fuzzers with clang into build-fuzz/, replays every seed and every kept
# regression input, then fuzzes each target for a bounded time. Fails on any crash, leak,
# timeout or broken invariant.
#
#   fuzz/run_fuzzers.sh                    # about 45 seconds of fuzzing per target
#   FUZZ_SECONDS=3600 fuzz/run_fuzzers.sh  # longer runs
#
# New inputs go to a scratch copy of the corpus, so the corpus in the repository never changes
# here; crash inputs land in build-fuzz/artifacts/<fuzzer>/ (see fuzz/README.md).
set -euo pipefail

fuzz_dir="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$fuzz_dir")"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-45}"

source "$root/scripts/packages.sh"
"$root/scripts/install_packages.sh" "${BUILD_PACKAGES[@]}" clang-14 libclang-rt-14-dev

cmake -S "$root" -B "$build" -DZIPDROP_FUZZ=ON -DZIPDROP_TESTS=OFF \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_extraction_run fuzz_zip_extractor \
  fuzz_decoders fuzz_decryption fuzz_parallel_inflate

scratch="$(mktemp -d "${TMPDIR:-/tmp}/zipdrop-fuzz-corpus-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

# Limits shared by every run: no single allocation may be huge, and one input may take a few
# seconds at most (25 is generous, for a loaded machine). Each target adds its memory limit.
limits=(-malloc_limit_mb=256 -timeout=25)

# run_fuzzer <fuzzer> <corpus name> [extra libFuzzer flags...]
run_fuzzer() {
  local fuzzer="$1" corpus="$2"
  shift 2
  local binary="$build/fuzz/$fuzzer" artifacts="$build/artifacts/$fuzzer"
  local regressions="$fuzz_dir/regressions/$corpus" work="$scratch/$corpus"
  mkdir -p "$artifacts" "$work" "$regressions"
  cp -R "$fuzz_dir/corpus/$corpus/." "$work/"

  # Every seed and every kept crash input, exactly once, before any mutation.
  if ! "$binary" "${limits[@]}" "$@" -runs=0 -artifact_prefix="$artifacts/" \
      "$fuzz_dir/corpus/$corpus" "$regressions" >"$scratch/$fuzzer.replay.log" 2>&1; then
    tail -n 40 "$scratch/$fuzzer.replay.log" >&2
    echo "$fuzzer: a seed or regression input fails" >&2
    return 1
  fi

  local log="$scratch/$fuzzer.log" status=0
  "$binary" "${limits[@]}" "$@" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work" >"$log" 2>&1 || status=$?
  local runs
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "$fuzzer: ${runs:-?} runs, 1 crash (input kept in $artifacts/)" >&2
    return 1
  fi
  echo "$fuzzer: ${runs:-?} runs, 0 crashes"
}

# The extraction run makes two million small allocations a minute, and AddressSanitizer holds
# on to 256 MB of freed memory to catch uses after free: its resident size settles near 530 MB.
run_fuzzer fuzz_extraction_run extraction_run -rss_limit_mb=1024
run_fuzzer fuzz_zip_extractor zip_extractor -rss_limit_mb=512 -max_len=8192 \
  -dict="$fuzz_dir/zip_extractor.dict"
# Streams of up to 64 KiB: enough for every block type and a window of either size.
run_fuzzer fuzz_decoders decoders -rss_limit_mb=1024 -max_len=65536
# Scheme, password, header, content and trailer of an encrypted entry.
run_fuzzer fuzz_decryption decryption -rss_limit_mb=512 -max_len=4096
# Content of up to 64 KiB: compressed, dozens of chunks of 64 to 1,056 bytes.
run_fuzzer fuzz_parallel_inflate parallel_inflate -rss_limit_mb=1024 -max_len=65536
