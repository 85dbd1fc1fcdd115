#!/usr/bin/env bash
# Runs the serial device's meter test natively against a simulated meter on a pseudo-terminal.
#   with-metersim.sh METERSIM TEST
# The meter streams no readings meanwhile (interval of an hour) and sends at 9600 baud's pace.
set -euo pipefail
metersim=$1
test=$2
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$work"' EXIT
"$metersim" --link "$work/meter" --image "$work/meter.mtr" --baud 9600 --interval 3600000 \
  >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do
  [ -e "$work/meter" ] && [ -s "$work/meter.mtr" ] && break
  sleep 0.1
done
"$test" "$work/meter" "$work/meter.mtr"
