#!/bin/sh
# Runs a Windows program under Wine for CTest (the cross builds' emulator).
# A Wine server and its services are started first, detached from the
# caller's output (a service that inherited it would hold a test's output
# open), and the server stays for ten idle minutes, so that each test
# starts quickly.
export WINEDEBUG="${WINEDEBUG:--all}"
if wineserver -p600 </dev/null >/dev/null 2>&1; then
  wine wineboot </dev/null >/dev/null 2>&1
fi
exec wine "$@"
