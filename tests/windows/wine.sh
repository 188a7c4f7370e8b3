# Sourced by the scripts that run Windows programs under Wine: finds Wine, quiets it, and makes
# fresh prefixes.
#   wine                 the 64-bit loader (WINE64 overrides /usr/lib/wine/wine64)
#   wineserver           the server beside it: the package wine64 puts it on no PATH
#   new_prefix DIR       creates a prefix in DIR and waits until its registry is on disk

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
