#!/usr/bin/env bash
# Runs the serial device's meter test natively against a simulated meter on a pseudo-terminal
# (or, with tcp, on the simulator's raw TCP port).
#   with-metersim.sh METERSIM TEST [tcp]
# The meter streams no readings meanwhile (interval of an hour) and sends at 9600 baud's pace.
set -euo pipefail
metersim=$1
test=$2
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$work"' EXIT
where=(--link "$work/meter")
[ "${3:-}" = tcp ] && where=(--tcp 0)
"$metersim" "${where[@]}" --image "$work/meter.mtr" --baud 9600 --interval 3600000 \
  >"$work/sim.out" 2>&1 &
sim=$!
port=
for _ in $(seq 100); do
  port=$(head -1 "$work/sim.out")
  [ -n "$port" ] && [ -s "$work/meter.mtr" ] && break
  sleep 0.1
done
[ "${3:-}" = tcp ] || port=$work/meter # the link, as the README's setups name the device
"$test" "$port" "$work/meter.mtr"
