#!/usr/bin/env bash
# Builds the release tools, generates the synthetic demo world once (into
# demo/world) and bakes a rectangle of it into demo/out.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-deps.sh
ensure_deps

cmake --preset release >/dev/null
cmake --build --preset release --target strewmill strewmill-worldgen -j "${JOBS:-$(nproc)}"

bin=build/release/apps/strewmill/strewmill
gen=build/release/tools/strewmill-worldgen
world=demo/world
out=demo/out
lbs=0xA6B1..0xADB8

if [ ! -f "$world/client_portal.dat" ] || [ ! -f "$world/client_cell_1.dat" ] ||
   [ ! -f "$world/client_local_English.dat" ]; then
  echo "==> generating the demo world into $world" >&2
  "$gen" --out "$world" --landblocks "$lbs"
fi

echo "==> baking $lbs into $out" >&2
"$bin" --dat-dir "$world" --landblocks "$lbs" --out "$out"

first=$(ls "$out"/*.scenery.jsonl | head -n 1)
echo "==> outputs in $out: $(ls "$out"/*.scenery.jsonl | wc -l) placement files, their .sha256 files and bake-source.sha256" >&2
echo "==> first line of $first:" >&2
head -n 1 "$first"
