#!/usr/bin/env bash
# Installs the Debian packages the build needs, when something is missing and
# we are root. Otherwise names what is missing and leaves it to the user.
# With --windows also the mingw-w64 cross compilers (the -posix variants) and
# Wine, for the Windows builds and their tests. With --ci also what CI checks
# with: clang-format and lintian.
#
# Other scripts source it for its functions alone (ZUQ_APT_FUNCTIONS_ONLY=1):
# wait_for_package_system, apt_update and apt_install.
set -euo pipefail

# The package system is busy while another apt-get or dpkg holds one of its
# locks (one installing as the machine starts, say): waits for it, up to five
# minutes, and says what it waits for. Its holder is looked up in the
# kernel's table of locks; apt-get's own DPkg::Lock::Timeout covers what
# comes between that look and apt-get taking the locks itself.
wait_for_package_system() {
  local holder waited=0
  while holder=$(lslocks --noheadings --output COMMAND,PID,PATH 2>/dev/null | awk '
           $3 ~ "^/var/(lib/dpkg/lock(-frontend)?|lib/apt/lists/lock|cache/apt/archives/lock)$" {
             print $1 " (process " $2 ")"; exit }'); [ -n "$holder" ]; do
    if [ $waited -eq 0 ]; then
      echo "Waiting for $holder to finish with the package system (at most 5 minutes)"
    elif [ $waited -ge 300 ]; then
      echo "The package system is still busy after 5 minutes: $holder holds it." \
           "Run this again when it has finished." >&2
      return 1
    fi
    sleep 5
    waited=$((waited + 5))
  done
}

# apt-get update. An index that did not come (a mirror being synced, say)
# makes apt-get fail although the other indexes came: that is told in one
# line, kept in apt_index_missing, and the install that follows uses the
# indexes that came. Anything else stops here, with apt-get's own words.
apt_index_missing=
apt_update() {
  local err
  wait_for_package_system
  if err=$(apt-get -qq -o DPkg::Lock::Timeout=300 update 2>&1 >/dev/null); then return 0; fi
  if grep -q '^[EW]: Failed to fetch' <<<"$err" && ! grep -q 'Could not get lock' <<<"$err"; then
    apt_index_missing=$(grep -m1 '^[EW]: Failed to fetch' <<<"$err" |
                        sed 's/^[EW]: Failed to fetch //; s/  */ /g')
    echo "Not every package index came; going on with those that did." \
         "The first that did not: $apt_index_missing"
    return 0
  fi
  echo "$err" >&2
  return 1
}

apt_install() {
  wait_for_package_system
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$@" >/dev/null
}

[ "${ZUQ_APT_FUNCTIONS_ONLY:-}" != 1 ] || return 0

# dpkg-dev and file: the Debian package's dependencies (dpkg-shlibdeps);
# man-db: the manual pages' check, and groff to render them for the zips.
packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev libasio-dev libbenchmark-dev
          libclang-rt-14-dev dpkg-dev file man-db)
case "${1:-}" in
  --windows) packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64) ;;
  --ci) packages+=(clang-format lintian) ;;
esac
# A package whose triggers are still pending (man-db's, while another
# apt-get runs) or that is half-configured is installed: its files are there,
# and the apt-get or dpkg at work finishes it.
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${db:Status-Status}\n' "$package" 2>/dev/null |
    grep -qx 'installed\|triggers-pending\|triggers-awaited\|half-configured' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_update
  apt_install "${missing[@]}"
else
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
