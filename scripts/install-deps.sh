#!/usr/bin/env bash
# Installs the Debian packages the build needs, when something is missing and
# we are root. Otherwise names what is missing and leaves it to the user.
# With --windows also the mingw-w64 cross compilers (the -posix variants) and
# Wine, for the Windows builds and their tests. With --ci also what CI checks
# with: clang-format and lintian.
set -euo pipefail

# dpkg-dev and file: the Debian package's dependencies (dpkg-shlibdeps);
# man-db: the manual pages' check, and groff to render them for the zips.
packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev libasio-dev libbenchmark-dev
          libclang-rt-14-dev dpkg-dev file man-db)
case "${1:-}" in
  --windows) packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64) ;;
  --ci) packages+=(clang-format lintian) ;;
esac
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
else
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
