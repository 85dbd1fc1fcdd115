#!/bin/bash
# Whether tarvik-cli watch keeps up with a meter streaming at 115200 baud: a simulated meter
# streams a reading every 50 ms (its fastest) for SECONDS, then stops; the readings watch
# printed are compared with the lines the simulator says it streamed.
#   bash bench/bench_cli_watch.sh [--seconds N] [BUILD_DIR]     (default 600 s, build)
set -u
seconds=600
if [ "${1:-}" = --seconds ]; then seconds=$2; shift 2; fi
build=${1:-build}
cli=$(realpath "$build/src/cli/tarvik-cli") sim=$(realpath "$build/tools/metersim/tarvik-metersim")
data=$(cd "$(dirname "$0")/../data" && pwd)
work=$(mktemp -d)
trap 'kill $simpid $watchpid 2>/dev/null; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work TARVIK_DATA=$data
"$sim" --data-dir "$data" --baud 115200 --interval 50 --link "$work/meter" \
  > "$work/sim.out" 2> "$work/sim.err" &
simpid=$!
for try in $(seq 50); do [ -e "$work/meter" ] && break; sleep 0.1; done
"$cli" watch --port "$work/meter" --baud 115200 --json > "$work/watch.out" 2> "$work/watch.err" &
watchpid=$!
sleep "$seconds"
kill -TERM $simpid; wait $simpid
# The simulator's end hangs the line up: watch ends by itself (a Ctrl+C should it not).
for try in $(seq 50); do kill -0 $watchpid 2>/dev/null || break; sleep 0.1; done
kill -INT $watchpid 2>/dev/null; wait $watchpid
streamed=$(sed -n 's/.* \([0-9]*\) reading lines streamed/\1/p' "$work/sim.err")
printed=$(grep -c '"flow"' "$work/watch.out")
echo "simulator streamed $streamed reading lines in $seconds s; watch printed $printed"
grep -h "readings\|lost" "$work/watch.err"
# The first line after the port opens is passed over (it may have lost its start).
[ "$printed" -ge $((streamed - 1)) ]
