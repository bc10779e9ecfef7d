# Sourced by smoke.sh and campaign.sh: locating the harnesses, generating
# the seeds and running one harness with the options both scripts share.

fuzz_build_dir="${FUZZ_BUILD_DIR:-build/fuzz}"
fuzz_work_dir="${FUZZ_WORK_DIR:-$fuzz_build_dir/corpus}"

# Harness executables, one per line.
fuzz_harnesses() {
  local exe
  for exe in "$fuzz_build_dir"/fuzz/*_fuzz; do
    [ -x "$exe" ] && echo "$exe"
  done
}

# (Re)generates every seed corpus under $fuzz_work_dir/seeds.
fuzz_make_seeds() {
  rm -rf "$fuzz_work_dir/seeds"
  "$fuzz_build_dir/fuzz/make_fuzz_seeds" "$fuzz_work_dir/seeds" 2>/dev/null
}

# fuzz_run EXE SECONDS CORPUS ARTIFACT_DIR LOG: one libFuzzer run; returns
# libFuzzer's status (0 when the time ran out without a finding).
fuzz_run() {
  local exe=$1 secs=$2 corpus=$3 artifacts=$4 log=$5
  local name
  name=$(basename "$exe" _fuzz)
  mkdir -p "$corpus" "$artifacts"
  local seeds="$fuzz_work_dir/seeds/$name"
  local dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")
  # 10 s for one input is a hang; 2 GiB is out of memory (a malloc above it
  # is reported at once).
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
    "$exe" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "${dirs[@]}" >"$log" 2>&1
}

# Executions reported in a run's log (0 if it stopped before reporting).
fuzz_execs() {
  local n
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$1" | tail -n 1)
  if [ -z "$n" ]; then
    n=$(sed -n 's/^#\([0-9][0-9]*\).*/\1/p' "$1" | tail -n 1)
  fi
  echo "${n:-0}"
}

# Findings (crash, leak, timeout, oom, slow-unit files) in an artifact dir.
fuzz_findings() {
  find "$1" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' -o -name 'slow-unit-*' \) 2>/dev/null | wc -l
}
