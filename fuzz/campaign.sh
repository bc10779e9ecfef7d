#!/usr/bin/env bash
# A longer fuzz campaign: every harness for FUZZ_CAMPAIGN_MINUTES (default
# 5) on a corpus kept under $FUZZ_WORK_DIR/campaign between runs. After a
# finding the harness restarts for the rest of its time, so one bug does
# not end the campaign. Prints executions and findings per harness; exits
# 1 when anything was found. Run harnesses in parallel with
# FUZZ_PARALLEL=N; name a subset as arguments (e.g. "region archive").
set -euo pipefail
cd "$(dirname "$0")/.."
. fuzz/fuzz_lib.sh

minutes="${FUZZ_CAMPAIGN_MINUTES:-5}"
parallel="${FUZZ_PARALLEL:-1}"
mapfile -t harnesses < <(fuzz_harnesses)
if [ $# -gt 0 ]; then
  selected=()
  for exe in "${harnesses[@]}"; do
    for want in "$@"; do [ "$(basename "$exe" _fuzz)" = "$want" ] && selected+=("$exe"); done
  done
  harnesses=("${selected[@]}")
fi
if [ ${#harnesses[@]} -eq 0 ]; then
  echo "fuzz campaign: no harnesses found in $fuzz_build_dir/fuzz" >&2
  exit 1
fi
fuzz_make_seeds

# One harness for the whole time; writes "<execs> <findings>" to its dir.
campaign_one() {
  local exe=$1 name dir deadline left execs=0 runs=0
  name=$(basename "$exe" _fuzz)
  dir="$fuzz_work_dir/campaign/$name"
  mkdir -p "$dir/logs"
  deadline=$(($(date +%s) + minutes * 60))
  while left=$((deadline - $(date +%s))); [ "$left" -gt 5 ]; do
    runs=$((runs + 1))
    fuzz_run "$exe" "$left" "$dir/corpus" "$dir/artifacts" "$dir/logs/run-$runs.log" || true
    execs=$((execs + $(fuzz_execs "$dir/logs/run-$runs.log")))
  done
  echo "$execs $(fuzz_findings "$dir/artifacts")" >"$dir/result"
}

pids=()
for exe in "${harnesses[@]}"; do
  campaign_one "$exe" &
  pids+=($!)
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
done
wait

total=0
found=0
printf '%-16s %14s %9s\n' harness executions findings
for exe in "${harnesses[@]}"; do
  name=$(basename "$exe" _fuzz)
  read -r execs findings <"$fuzz_work_dir/campaign/$name/result"
  total=$((total + execs))
  found=$((found + findings))
  printf '%-16s %14s %9s\n' "$name" "$execs" "$findings"
done
printf '%-16s %14s %9s\n' total "$total" "$found"
printf '(%s min per harness; corpora and artifacts under %s/campaign)\n' "$minutes" "$fuzz_work_dir"
[ "$found" -eq 0 ]
