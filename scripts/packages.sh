# The Debian packages the native build and its tests need; sourced by ./run and ./test.
# shellcheck shell=bash
# The development files of libarchive's own libraries let the build link libarchive's static
# archive, which starts faster (see platform/posix/platform.cmake).
BUILD_PACKAGES=(ca-certificates g++ cmake make pkg-config libarchive-dev libdeflate-dev
                nettle-dev libacl1-dev liblzma-dev libzstd-dev liblz4-dev libbz2-dev zlib1g-dev
                libxml2-dev)
TEST_PACKAGES=(libgtest-dev 7zip)
