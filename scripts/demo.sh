#!/usr/bin/env bash
# Builds the release binary and shows what it does.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-deps.sh
ensure_deps

cmake --preset release >/dev/null
cmake --build --preset release --target strewmill -j "${JOBS:-$(nproc)}"

build/release/apps/strewmill/strewmill --help
