# Sourced by the scripts that run Windows programs under Wine: finds Wine, quiets it, and makes
# fresh prefixes.
#   wine                 the 64-bit loader (WINE64 overrides /usr/lib/wine/wine64)
#   wineserver           the server beside it: the package wine64 puts it on no PATH
#   new_prefix DIR       creates a prefix in DIR and waits until its registry is on disk
#   run_windows ARGS...  runs "$wine" ARGS..., its standard output on standard output; fails
#                        loudly when one process takes longer than a healthy start ever does
#                        (WINE_PROCESS_LIMIT seconds, 10 unless set), and keeps the slowest time
#                        in slowest_ms

wine=${WINE64:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine")/wineserver
if [[ ! -x "$wine" || ! -x "$wineserver" ]]; then
  echo "Wine is missing: install the package wine64 (scripts/install-deps --all)" >&2
  exit 1
fi
# No debug channels, and no offer to install Mono or Gecko into a new prefix.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

new_prefix() {
  WINEPREFIX="$1" "$wine" wineboot --init >/dev/null 2>&1
  WINEPREFIX="$1" "$wineserver" --wait
}

slowest_ms=0
run_windows() {
  local limit=${WINE_PROCESS_LIMIT:-10} start elapsed status=0
  start=$(date +%s%N)
  timeout "$limit" "$wine" "$@" || status=$?
  elapsed=$((($(date +%s%N) - start) / 1000000))
  ((elapsed > slowest_ms)) && slowest_ms=$elapsed
  if [[ $status -eq 124 ]]; then
    # A healthy process starts in well under a second; the 32-bit route's slow path takes a minute.
    echo "FAIL $*: still running after ${limit} s, killed (a 32-bit process on the slow path?)" >&2
    return 1
  fi
  return "$status"
}
