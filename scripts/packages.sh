# The Debian packages the native build and its tests need; sourced by ./run and ./test.
# shellcheck shell=bash
# The extractor decodes with ISA-L, libdeflate, libbz2, liblzma and libzstd, and PPMd through
# libarchive. The development files of libarchive's own libraries let the build link libarchive's
# static archive, which starts faster (see platform/posix/extractor/extractor.cmake). Whether a
# display accepts us is asked with libxcb, libXau and libwayland-client.
BUILD_PACKAGES=(ca-certificates g++ cmake make pkg-config libarchive-dev libdeflate-dev
                libisal-dev nettle-dev libacl1-dev liblzma-dev libzstd-dev liblz4-dev libbz2-dev
                zlib1g-dev libxml2-dev libxcb1-dev libxau-dev libwayland-dev)
# scripts/release builds ISA-L's static library from Debian's source package with ISA-L's own
# makefile and nasm; dpkg-source unpacks the package.
RELEASE_PACKAGES=(nasm dpkg-dev xz-utils)
# scripts/release cross-builds zipdrop.exe with MinGW-w64 and packs it with zip.
WINDOWS_RELEASE_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix zip)
# The compatibility table compares zipdrop with bsdtar and 7-Zip on archives Python writes, and on
# what `zip` writes for data from a pipe; 7-Zip also makes the encrypted archives that the
# decryption is checked against, as Info-ZIP's zip does. The desktop tests run the real dialogs
# on a virtual X server, find their windows and take screenshots of them (xauth gives one display
# a cookie), check the launcher and start it as GLib-based file managers do; the Japanese locale
# they run the dialogs in is made from the locales package's sources.
TEST_PACKAGES=(libgtest-dev python3 libarchive-tools 7zip zip zstd zenity xvfb xdotool imagemagick
               fonts-ipafont-gothic desktop-file-utils python3-gi gir1.2-glib-2.0 xauth locales)
