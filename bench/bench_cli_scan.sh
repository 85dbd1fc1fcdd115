#!/bin/bash
# How long tarvik-cli modbus --scan takes over all 247 addresses with 3 meters present, against
# its floor: a time-out per request to each absent address plus the wire time of the present
# ones' requests and replies (8 and 25 bytes of 11 bits at the line's speed).
#   bash bench/bench_cli_scan.sh [--timeout MS] [--retries N] [--baud N] [BUILD_DIR]
#   (defaults: the program's 500 ms and 0 retries, 9600 baud)
set -u
timeout=500 retries=0 baud=9600
while [ $# -gt 0 ]; do
  case $1 in
    --timeout) timeout=$2; shift 2 ;;
    --retries) retries=$2; shift 2 ;;
    --baud) baud=$2; shift 2 ;;
    *) break ;;
  esac
done
build=${1:-build}
cli=$(realpath "$build/src/cli/tarvik-cli") sim=$(realpath "$build/tools/metersim/tarvik-metersim")
work=$(mktemp -d)
trap 'kill $simpid 2>/dev/null; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work
"$sim" --modbus --addr 5,100,247 --baud "$baud" --link "$work/bus" > "$work/sim.out" 2>&1 &
simpid=$!
for try in $(seq 50); do [ -e "$work/bus" ] && break; sleep 0.1; done
start=$(date +%s.%N)
"$cli" modbus --port "$work/bus" --scan --baud "$baud" --timeout "$timeout" --retries "$retries" \
  > "$work/scan.out" 2> "$work/scan.err"
end=$(date +%s.%N)
found=$(tail -n +2 "$work/scan.out" | wc -l)
floor=$(echo "scale=3; (244 * $timeout * ($retries + 1) + 3 * (8 + 25) * 11 * 1000 / $baud) / 1000" | bc)
took=$(echo "$end - $start" | bc)
echo "scan of 247 addresses at $baud baud, --timeout $timeout --retries $retries: found $found of 3"
echo "took ${took} s; floor ${floor} s (244 time-outs plus 3 replies); over the floor $(echo "scale=3; $took - $floor" | bc) s"
[ "$found" = 3 ]
