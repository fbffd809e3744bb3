#!/bin/sh
# Runs a Windows program under Wine for CTest (the cross builds' emulator).
# Usage: wine-run.sh 64|32 PROGRAM [ARGS...]
#
# A Wine server and its services are started first, detached from the
# caller's output (a service that inherited it would hold a test's output
# open), and the server stays for ten idle minutes, so that each test
# starts quickly. 64-bit programs go to Debian's wine64 loader directly:
# the `wine` launcher picks the 32-bit loader whenever wine32 is installed,
# even where 32-bit programs cannot run.
bits=$1
shift
export WINEDEBUG="${WINEDEBUG:--all}"
# No prompt to install Wine's .NET or HTML engines into a new prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
loader=wine
if [ "$bits" = 64 ] && [ -x /usr/lib/wine/wine64 ]; then
  loader=/usr/lib/wine/wine64
fi
if wineserver -p600 </dev/null >/dev/null 2>&1; then
  "$loader" wineboot </dev/null >/dev/null 2>&1
fi
"$loader" "$@"
status=$?
# A test program that ends with no output of its own still leaves this line,
# so that a failure under Wine always says how the program ended.
[ "$status" -eq 0 ] || echo "wine-run.sh: $1 ended with exit status $status" >&2
exit "$status"
