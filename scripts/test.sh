#!/usr/bin/env bash
# Builds and runs every test: release, then under AddressSanitizer and
# UndefinedBehaviorSanitizer, then compiles everything with clang 14.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-deps.sh
ensure_deps

jobs="${JOBS:-$(nproc)}"

for preset in release asan-ubsan; do
  echo "==> $preset: configure, build, test" >&2
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "==> demo: the README's main-job command" >&2
scripts/demo.sh

echo "==> clang: compile check with clang++-14" >&2
cmake --preset clang
cmake --build --preset clang -j "$jobs"

# --- fuzz smoke -------------------------------------------------------------
# Every libFuzzer harness runs briefly (FUZZ_SMOKE_SECONDS, default 20) on
# seeds generated from the encoders; any crash, leak, hang or OOM fails CI.
echo "==> fuzz: build the harnesses (clang 14, ASan+UBSan) and run the smoke" >&2
cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"
fuzz/smoke.sh
# ---------------------------------------------------------------------------

echo "All tests passed." >&2
