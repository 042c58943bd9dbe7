# The Debian packages the native build and its tests need; sourced by ./run and ./test.
# shellcheck shell=bash
BUILD_PACKAGES=(ca-certificates g++ cmake make pkg-config libarchive-dev libdeflate-dev)
TEST_PACKAGES=(libgtest-dev)
