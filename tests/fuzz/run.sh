#!/usr/bin/env bash
# Runs every fuzz target for SECONDS on a copy of its seed corpus (the tree's corpus is not
# written to) and prints the executions of each. Fails on the first target that finds a crash,
# a leak, undefined behaviour or a time-out; the input that did it is left in the work directory.
#   tests/fuzz/run.sh BIN_DIR SECONDS [WORK_DIR]
set -euo pipefail
bin=$1
seconds=$2
work=${3:-$(mktemp -d -t vmk40xx-fuzz.XXXXXX)}
here=$(cd "$(dirname "$0")" && pwd)
targets=(fuzz_option_string fuzz_resource_string fuzz_selectors fuzz_formatted_read
         fuzz_query_replies fuzz_sim_scpi fuzz_config_store fuzz_registry fuzz_trace_file)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
printf '%-22s %12s\n' target executions
for t in "${targets[@]}"; do
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
  cp -r "$here/corpus/$t/." "$work/$t/corpus/"
  log="$work/$t/log"
  if ! "$bin/$t" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
       -artifact_prefix="$work/$t/artifacts/" "$work/$t/corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$t failed; its input is in $work/$t/artifacts" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf '%-22s %12s\n' "$t" "${runs:-?}"
done
