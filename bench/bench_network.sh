#!/bin/bash
# tarvik-cli's read, send and Modbus sweep through ser2net's raw TCP accepter on localhost,
# each against the same operation on the simulator's pseudo-terminal: the medians and their
# ratio, which should stay within 1.10 (the network adds no waits of its own); then the form's
# Read Active the same way and the event loop's longest stall while the form tries a host that
# never answers (bench_network_forms: under 16 ms).
#   bash bench/bench_network.sh [BUILD_DIR] [--runs N]     (--short: one run, results checked;
#   the smoke runs bench_network_forms on its own)
set -u
build=build runs=5 short=0 pace=1
for arg in "$@"; do
  case $arg in
    --short) short=1 runs=1 pace=0.1 ;;
    --runs) ;;
    [0-9]*) runs=$arg ;;
    *) build=$arg ;;
  esac
done
cli=$(realpath "$build/src/cli/tarvik-cli") sim=$(realpath "$build/tools/metersim/tarvik-metersim")
forms=$(realpath "$build/bench/bench_network_forms")
data=$(cd "$(dirname "$0")/../data" && pwd)
ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
[ -x "$ser2net" ] || { echo "bench_network: ser2net is needed (scripts/install-deps)" >&2; exit 1; }
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work TARVIK_DATA=$data
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# start_pair NAME SIM-ARGS...: a simulator on a pseudo-terminal and ser2net's raw accepter on it.
start_pair() {
  local name=$1; shift
  "$sim" "$@" --link "$work/$name" > "$work/$name.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -e "$work/$name" ] && break; sleep 0.1; done
  local port; port=$(free_port)
  printf 'connection: &%s\n  accepter: tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
    "$name" "$port" "$(readlink "$work/$name")" > "$work/$name.yaml"
  "$ser2net" -n -u -P "$work/$name.pid" -c "$work/$name.yaml" > "$work/$name.s2n" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
  echo "$port"
}
meterPort=$(start_pair meter --serial 31415 --interval 600000 --data-dir "$data")
modbusPort=$(start_pair modbus --modbus --addr 1,2,3)
cd "$work" || exit 1
"$cli" read --port "$work/meter" --out base.mtr --pace "$pace" > /dev/null || exit 1
"$cli" set base.mtr "Relay #2 OFF Value=2500" --out a.mtr > /dev/null || exit 1
"$cli" set base.mtr "Relay #2 OFF Value=2600" --out b.mtr > /dev/null || exit 1
# median JOB PORT: the median time of runs of JOB on PORT, checking each result.
median() {
  local job=$1 port=$2 times=() run
  for run in $(seq "$runs"); do
    case $job in
      read) args=(read --port "$port" --out "r.mtr" --force) ;;
      send) args=(send "$([ $((run % 2)) = 1 ] && echo a.mtr || echo b.mtr)" --port "$port" --yes --force) ;;
      sweep) args=(modbus --port "$port" --addresses 1-3 --count 5 --interval 0 --parity "1 8 NONE 1" --csv) ;;
    esac
    local start end
    start=$(date +%s.%N)
    [ "$job" = sweep ] || args+=(--pace "$pace") # the Modbus master is not paced
    "$cli" "${args[@]}" > out.txt 2> err.txt || { cat err.txt >&2; exit 1; }
    end=$(date +%s.%N)
    if [ "$job" = sweep ] && [ "$(grep -c ',ok$' out.txt)" != 15 ]; then
      echo "bench_network: a sweep on $port lost readings" >&2; cat out.txt >&2; exit 1
    fi
    if [ "$job" = read ] && ! cmp -s r.mtr base.mtr && ! cmp -s r.mtr a.mtr && ! cmp -s r.mtr b.mtr; then
      echo "bench_network: a read on $port gave another meter file" >&2; exit 1
    fi
    times+=("$(echo "$end - $start" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}
status=0
for job in read send sweep; do
  if [ $job = sweep ]; then local_port=$work/modbus net_port=tcp://127.0.0.1:$modbusPort
  else local_port=$work/meter net_port=tcp://127.0.0.1:$meterPort; fi
  pty=$(median $job "$local_port") || exit 1
  net=$(median $job "$net_port") || exit 1
  ratio=$(echo "scale=3; $net / $pty" | bc)
  echo "$job: pseudo-terminal ${pty} s, ser2net raw ${net} s (median of $runs): ratio $ratio"
  [ "$short" = 1 ] || [ "$(echo "$ratio <= 1.10" | bc)" = 1 ] || status=1
done
if [ "$short" = 0 ]; then
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$forms" --runs "$runs" ||
    status=1
fi
exit $status
