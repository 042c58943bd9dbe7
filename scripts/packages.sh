# The Debian packages the native build and its tests need; sourced by ./run and ./test.
# shellcheck shell=bash
# The extractor decodes with ISA-L, libdeflate, libbz2, liblzma and libzstd, and PPMd through
# libarchive. The development files of libarchive's own libraries let the build link libarchive's
# static archive, which starts faster (see platform/posix/extractor/extractor.cmake).
BUILD_PACKAGES=(ca-certificates g++ cmake make pkg-config libarchive-dev libdeflate-dev
                libisal-dev nettle-dev libacl1-dev liblzma-dev libzstd-dev liblz4-dev libbz2-dev
                zlib1g-dev libxml2-dev)
# The compatibility table compares zipdrop with bsdtar and 7-Zip on archives Python writes.
TEST_PACKAGES=(libgtest-dev python3 libarchive-tools 7zip zstd)
