#!/bin/bash
# Three simulated meters (two Kelvane, one Quixal) serviced one after another as a bench script
# would: identify, read, set the Modbus address, send, read back and compare; then a send to the
# wrong meter must be refused with status 2 and a missing port must give status 3.
set -u
cli=$1 sim=$2 data=$3
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" && cp "$data"/* . || exit 1
export XDG_RUNTIME_DIR=$work
fail() { echo "FAIL: $*" >&2; exit 1; }
series=(x kelvane kelvane quixal)
ext=(x mtr mtr qxm)
range=(x 1 2 1)    # a Quixal file is named with "_1"
modbus=(x 1035 1035 1046)
extra=(x "C Factor=1.25" "Relay #2 ON Function=Low Flow" "Primary Coefficients[1]=2.5")
for n in 1 2 3; do
  "$sim" --series ${series[$n]} --serial 7000$n --range $n --interval 600000 \
    --image "$work/sim$n.${ext[$n]}" --data-dir "$data" --link "$work/meter$n" \
    > "$work/sim$n.out" 2>&1 &
done
for n in 1 2 3; do
  for try in $(seq 50); do [ -e "$work/meter$n" ] && break; sleep 0.1; done
done
for n in 1 2 3; do
  port=$work/meter$n
  "$cli" identify --port "$port" --pace 0.04 | grep -qx "serial	7000$n" || fail "identify meter $n"
  out=$("$cli" read --port "$port" --pace 0.04) || fail "read meter $n"
  [ "$out" = "$work/7000${n}_${range[$n]}.${ext[$n]}" ] || fail "read meter $n named $out"
  e=${ext[$n]}
  "$cli" set "$out" "Modbus Addr=1$n" "${extra[$n]}" --out "edited$n.$e" || fail "set meter $n"
   "$cli" send "edited$n.$e" --port "$port" --pace 0.04 --yes | grep -q "Meter stored" || fail "send $n"
  "$cli" read --port "$port" --pace 0.04 --out "back$n.$e" > /dev/null || fail "read back $n"
  cmp -s "back$n.$e" "edited$n.$e" || fail "meter $n does not hold what was sent"
  "$cli" show "back$n.$e" | grep -qx "Modbus Addr	${modbus[$n]}	1$n" || fail "show meter $n"
  "$cli" show "back$n.$e" > shown$n.txt
  "$cli" show "$out" | diff - shown$n.txt | grep -c '^>' | grep -qx 2 ||
    fail "meter $n changed other fields than the two set"
done
"$cli" send edited1.mtr --port "$work/meter2" --pace 0.04 2> refused.txt
[ $? -eq 2 ] || fail "send to another serial number was not refused"
grep -q "serial number 70001" refused.txt || fail "refusal does not name the serial"
cmp -s sim2.mtr back2.mtr || fail "the refused send changed meter 2"
"$cli" send edited1.mtr --port "$work/meter3" --pace 0.04 2> refused.txt
[ $? -eq 2 ] || fail "a Kelvane file sent to a Quixal meter was not refused"
grep -q "Quixal meter" refused.txt || fail "refusal does not name the series"
"$cli" read --port "$work/no-such-port" --out x.mtr 2> /dev/null
[ $? -eq 3 ] || fail "a missing port is not status 3"
[ ! -e x.mtr ] || fail "a failed read wrote a file"
echo "three meters serviced"
