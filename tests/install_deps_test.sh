#!/usr/bin/env bash
# scripts/install-deps.sh on a busy machine, as root, with stand-ins first on
# PATH for what it asks and runs (id, dpkg-query, lslocks, apt-get, sleep):
# packages whose triggers are pending, a package system that another apt-get
# holds, a package index that does not come.
# Usage: install_deps_test.sh PATH-TO-install-deps.sh
set -euo pipefail
script=$(realpath "$1")
FAKE=$(mktemp -d)
export FAKE
trap 'rm -rf "$FAKE"' EXIT
mkdir "$FAKE/bin"
cd "$FAKE/bin"
printf '#!/bin/sh\necho 0\n' >id
printf '#!/bin/sh\n' >sleep
# Every package installed but man-db (triggers pending) and clang
# (half-configured), and those named in $FAKE/missing.
cat >dpkg-query <<'EOF'
#!/bin/sh
grep -qx "$3" "$FAKE/missing" 2>/dev/null && exit 1
case $3 in man-db) echo triggers-pending ;; clang) echo half-configured ;; *) echo installed ;; esac
EOF
# Another apt-get holds the package system for as many looks as
# $FAKE/looks-held says.
cat >lslocks <<'EOF'
#!/bin/sh
held=$(cat "$FAKE/looks-held" 2>/dev/null || echo 0)
[ "$held" -gt 0 ] || exit 0
echo $((held - 1)) >"$FAKE/looks-held"
echo "apt-get 4242 /var/lib/dpkg/lock-frontend"
EOF
# Logs its arguments; "update" fails with $FAKE/update-error when there is one.
cat >apt-get <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$FAKE/apt.log"
case " $* " in *" update "*) [ ! -f "$FAKE/update-error" ] || { cat "$FAKE/update-error" >&2; exit 100; } ;; esac
EOF
chmod +x ./*
cd /

check() {  # NAME EXPECTED-STATUS: runs the script, then greps its output for each line on stdin
  rm -f "$FAKE/apt.log"
  status=0
  output=$(PATH="$FAKE/bin:$PATH" bash "$script" 2>&1) || status=$?
  output+=$'\n'$(cat "$FAKE/apt.log" 2>/dev/null || true)
  [ "$status" -eq "$2" ] || { echo "FAIL $1: status $status, not $2:"; echo "$output"; exit 1; }
  while IFS= read -r expected; do
    if [ "${expected:0:1}" = '!' ]; then
      ! grep -qF -- "${expected:1}" <<<"$output" ||
        { echo "FAIL $1: '${expected:1}' in:"; echo "$output"; exit 1; }
    else
      grep -qF -- "$expected" <<<"$output" ||
        { echo "FAIL $1: no '$expected' in:"; echo "$output"; exit 1; }
    fi
  done
  echo "ok: $1"
}

check "triggers pending and half-configured count as installed" 0 <<'EOF'
!apt-get
EOF

echo file >"$FAKE/missing"
echo 2 >"$FAKE/looks-held"
check "a busy package system is waited for, and said so" 0 <<'EOF'
Installing: file
Waiting for apt-get (process 4242) to finish with the package system (at most 5 minutes)
apt-get -qq -o DPkg::Lock::Timeout=300 update
apt-get install -y -qq -o DPkg::Lock::Timeout=300 file
EOF

echo 1000 >"$FAKE/looks-held"
check "a package system busy for 5 minutes ends the wait" 1 <<'EOF'
The package system is still busy after 5 minutes: apt-get (process 4242) holds it.
!apt-get install
EOF
rm "$FAKE/looks-held"

cat >"$FAKE/update-error" <<'EOF'
E: Failed to fetch http://deb.example/debian-security/dists/stable-security/main/binary-i386/Packages.xz  File has unexpected size (123 != 456). Mirror sync in progress? [IP: 192.0.2.1 80]
   Hashes of expected file:
    - Filesize:456 [weak]
E: Some index files failed to download. They have been ignored, or old ones used instead.
EOF
check "an index that did not come is told in one line, and the install goes on" 0 <<'EOF'
Not every package index came; going on with those that did. The first that did not: http://deb.example/debian-security/dists/stable-security/main/binary-i386/Packages.xz File has unexpected size (123 != 456). Mirror sync in progress? [IP: 192.0.2.1 80]
apt-get install -y -qq -o DPkg::Lock::Timeout=300 file
!Hashes of expected file
EOF

echo "E: The repository 'http://deb.example stable Release' is not signed." >"$FAKE/update-error"
check "any other failure of apt-get update stops there, in apt-get's words" 1 <<'EOF'
E: The repository 'http://deb.example stable Release' is not signed.
!apt-get install
EOF
