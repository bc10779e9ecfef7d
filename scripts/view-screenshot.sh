#!/usr/bin/env bash
# Renders a strewmill-view picture of a demo landblock to PNG with headless
# Chromium (Debian's `chromium` package). Run by hand, not in CI:
#
#   scripts/view-screenshot.sh [LANDBLOCK [OUT.png]]
#
# Builds strewmill-view, bakes the demo world first when demo/out is missing,
# writes the SVG into demo/view and prints both paths.
set -euo pipefail
cd "$(dirname "$0")/.."

lb="${1:-0xAAB1}"
png="${2:-docs/images/view-$lb.png}"
svg="demo/view/view-$lb.svg"

browser=$(command -v chromium || true)
if [ -z "$browser" ]; then
  echo "view-screenshot: needs headless Chromium; install it with:" >&2
  echo "  apt-get update && apt-get install -y chromium" >&2
  exit 1
fi

if [ ! -f demo/out/bake-source.sha256 ]; then
  scripts/demo.sh >/dev/null
fi
cmake --preset release >/dev/null
cmake --build --preset release --target strewmill-view -j "${JOBS:-$(nproc)}" >/dev/null

mkdir -p "$(dirname "$png")" "$(dirname "$svg")"
build/release/tools/strewmill-view --dat-dir demo/world --bake demo/out --landblock "$lb" --out "$svg"

# The window is the picture's own size, read from the root element.
size=$(grep -o -m1 '<svg [^>]*>' "$svg")
width=$(sed -E 's/.* width="([0-9]+)[.0-9]*".*/\1/' <<<"$size")
height=$(sed -E 's/.* height="([0-9]+)[.0-9]*".*/\1/' <<<"$size")

# A throwaway profile keeps the run from touching the user's own.
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
"$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --user-data-dir="$profile" \
  --window-size="$width,$height" --screenshot="$(realpath "$png")" "file://$(realpath "$svg")" \
  >/dev/null 2>&1
echo "$svg"
echo "$png"
