#!/usr/bin/env bash
# Runs every fuzz harness briefly on its generated seeds and a fresh
# corpus; fails on the first crash, leak, hang or out-of-memory.
#   FUZZ_SMOKE_SECONDS (default 20) per harness; FUZZ_BUILD_DIR (build/fuzz).
# Build first: cmake --preset fuzz && cmake --build --preset fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
. fuzz/fuzz_lib.sh

secs="${FUZZ_SMOKE_SECONDS:-20}"
mapfile -t harnesses < <(fuzz_harnesses)
if [ ${#harnesses[@]} -eq 0 ]; then
  echo "fuzz smoke: no harnesses in $fuzz_build_dir/fuzz; build the fuzz preset first" >&2
  exit 1
fi
fuzz_make_seeds
rm -rf "$fuzz_work_dir/smoke"

total=0
failed=0
for exe in "${harnesses[@]}"; do
  name=$(basename "$exe" _fuzz)
  dir="$fuzz_work_dir/smoke/$name"
  mkdir -p "$dir"
  status=0
  fuzz_run "$exe" "$secs" "$dir/corpus" "$dir/artifacts" "$dir/log" || status=$?
  execs=$(fuzz_execs "$dir/log")
  total=$((total + execs))
  if [ "$status" -ne 0 ]; then
    failed=1
    printf 'fuzz smoke: %-16s FAILED (status %d) after %s executions; log %s\n' "$name" "$status" "$execs" "$dir/log" >&2
    grep -E 'ERROR|SUMMARY|check failed|Test unit written' "$dir/log" | head -n 20 >&2 || true
  else
    printf 'fuzz smoke: %-16s %10s executions in %ss\n' "$name" "$execs" "$secs" >&2
  fi
done
printf 'fuzz smoke: %d harnesses, %d executions in total\n' "${#harnesses[@]}" "$total" >&2
exit "$failed"
