#!/usr/bin/env bash
# page_dpi_test.sh <page host exe> <prefix> <dpi>: the exposure page over the
# scripted camera in a prefix of its own whose screen has <dpi> dots per inch:
# every length of the page's layout is <dpi>/96 of its length at 96 (the first
# label at x 20 and y 18, 110 wide and 23 high, the next row 30 below).
set -euo pipefail
HOST="$1"
export WINEPREFIX="$(realpath -m "$2")" WINEDEBUG=-all
DPI="$3"
unset DISPLAY
WINE=/usr/lib/wine/wine64
SERVER=/usr/lib/wine/wineserver
fail() { echo "page dpi test: $*" >&2; exit 1; }

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1 || fail "creating $WINEPREFIX failed"
fi
"$SERVER" -k 2>/dev/null || true
"$SERVER" -w 2>/dev/null || true
"$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$DPI" /f >/dev/null 2>&1
"$SERVER" -w
trap '"$SERVER" -k 2>/dev/null || true' EXIT

output="$("$WINE" "$HOST" --filter scripted --page '{B167753E-7AB6-4198-937A-D0C017DCB4E7}' --layout \
          </dev/null | tr -d '\r')" || fail "the page host failed"
scaled() { echo $(( ($1 * DPI + 48) / 96 )); }
# Labels: left, top, width, height (the first is "Gain", narrower than 110).
labels="$(awk -F'\t' '$1 == "control" && $2 ~ /[Ss]tatic$/ && $3 != "" {print $4, $5, $6 - $4, $7 - $5}' \
          <<<"$output")"
read -r x y width height <<<"$(sed -n 1p <<<"$labels")"
read -r _ y2 _ _ <<<"$(sed -n 2p <<<"$labels")"
echo "at $DPI dpi: first label at ($x, $y), $width x $height, next row at y $y2"
[ "$x" = "$(scaled 20)" ] || fail "first label at x $x, expected $(scaled 20)"
[ "$y" = "$(scaled 18)" ] || fail "first label at y $y, expected $(scaled 18)"
[ "$width" = "$(scaled 110)" ] || fail "first label $width wide, expected $(scaled 110)"
[ "$height" = "$(scaled 23)" ] || fail "first label $height high, expected $(scaled 23)"
[ "$((y2 - y))" = "$(scaled 30)" ] || fail "rows $((y2 - y)) apart, expected $(scaled 30)"
