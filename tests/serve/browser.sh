#!/usr/bin/env bash
# Shows the pages of `tallowmere serve` to a real browser, headless Chromium: the page at / shows
# a fortune of the collection, a fortune holding markup shows it as text (no element made of
# it), and the "another" link leads to a page that shows a fortune again.
# Usage: tests/serve/browser.sh [BUILD]   (default build/; writes screenshots to BUILD/browser/)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
command=$build/tools/tallowmere
out=$build/browser
mkdir -p "$out"
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "browser.sh: chromium is missing (scripts/ensure-deps.sh browser installs it)" >&2
  exit 1
fi
tmp=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

mkdir "$tmp/fortunes"
printf '%s\n' 'Beware of <script>alert(1)</script> in a fortune.' > "$tmp/fortunes/markup"
printf '%s\n' 'The kettle boils sooner when nobody waits for it.' '%' \
  'A bicycle with two flat tyres is still a fine place to sit.' > "$tmp/fortunes/plain"

"$command" serve --listen 127.0.0.1:0 "$tmp/fortunes" > "$tmp/address" 2> "$tmp/log" &
server=$!
for _ in $(seq 100); do [ -s "$tmp/address" ] && break; sleep 0.05; done
base=$(head -n 1 "$tmp/address")
base=${base%/}
[ -n "$base" ] || { echo "browser.sh: the server did not start:" >&2; cat "$tmp/log" >&2; exit 1; }

# As root Chromium refuses to run without --no-sandbox.
sandbox=()
[ "$(id -u)" = 0 ] && sandbox=(--no-sandbox)
show() {  # URL NAME: the DOM after loading, and a screenshot in $out/NAME.png
  "$browser" --headless "${sandbox[@]}" --disable-gpu --user-data-dir="$tmp/profile" \
    --screenshot="$out/$2.png" --window-size=412,800 "$1" >/dev/null 2>&1 || true
  "$browser" --headless "${sandbox[@]}" --disable-gpu --user-data-dir="$tmp/profile" \
    --dump-dom "$1" 2>/dev/null
}
fail() { echo "browser.sh: $1" >&2; exit 1; }
# The text of the page's fortune, as the DOM holds it (character references as written).
fortune_of() { sed -n 's|.*<pre class="fortune">\(.*\)</pre>.*|\1|p' | head -n 1; }
known='^(Beware of &lt;script&gt;alert\(1\)&lt;/script&gt; in a fortune\.|The kettle boils sooner when nobody waits for it\.|A bicycle with two flat tyres is still a fine place to sit\.)$'

dom=$(show "$base/" front)
text=$(fortune_of <<<"$dom")
grep -Eq "$known" <<<"$text" || fail "the page at / shows no fortune of the collection: '$text'"

dom=$(show "$base/fortunes/markup/0" markup)
text=$(fortune_of <<<"$dom")
[ "$text" = 'Beware of &lt;script&gt;alert(1)&lt;/script&gt; in a fortune.' ] \
  || fail "the fortune holding markup is not shown as text: '$text'"
! grep -q '<script' <<<"$dom" || fail "the fortune's markup became an element"

another=$(sed -n 's|.*<a id="another" href="\([^"]*\)".*|\1|p' <<<"$dom" | head -n 1)
[ -n "$another" ] || fail "no link to another fortune"
case $another in /*) another=$base$another ;; esac
dom=$(show "$another" another)
text=$(fortune_of <<<"$dom")
grep -Eq "$known" <<<"$text" || fail "the 'another' link ($another) shows no fortune: '$text'"

echo "browser.sh: the pages show their fortunes as text (screenshots in $out)"
