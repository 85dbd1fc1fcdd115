#!/bin/bash
# How long tarvik-cli takes to report a meter that does not answer (identify, read, send, log,
# transfer), five runs each, and their median: a silent simulated meter on a pseudo-terminal.
#   bash bench/bench_cli_silent_meter.sh [BUILD_DIR]     (JOBS="log transfer" for some of them)
set -u
build=${1:-build}
cli=$(realpath "$build/src/cli/tarvik-cli") sim=$(realpath "$build/tools/metersim/tarvik-metersim")
data=$(cd "$(dirname "$0")/../data" && pwd)
work=$(mktemp -d)
trap 'kill $simpid 2>/dev/null; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work TARVIK_DATA=$data
"$sim" --silent --data-dir "$data" --link "$work/meter" > "$work/sim.out" 2>&1 &
simpid=$!
for try in $(seq 50); do [ -e "$work/meter" ] && break; sleep 0.1; done
cp "$data/41A_Template.mtr" "$work/file.mtr"
cd "$work" || exit 1
for job in ${JOBS:-identify read send log transfer}; do
  times=()
  for run in 1 2 3 4 5; do
    case $job in
      identify) args=(identify --port meter) ;;
      read) args=(read --port meter --out "r$run.mtr") ;;
      send) args=(send file.mtr --port meter --force) ;;
      log) args=(log --port meter --interval 1 --seconds 60 --out "l$run.log") ;;
      transfer) args=(transfer --port meter --out "t$run.log") ;;
    esac
    start=$(date +%s.%N)
    "$cli" "${args[@]}" 2> "$work/err.txt"
    [ $? -eq 1 ] || { cat "$work/err.txt" >&2; exit 1; }
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
  done
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
  echo "$job: a silent meter reported in ${median} s (median of 5)"
done
