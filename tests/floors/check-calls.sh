#!/usr/bin/env bash
# check-calls.sh FLOORS [LIBRARY DROPPED]: every symbol a library of src/ uses from another
# library of src/ is defined in one it links (directly or below). FLOORS has one line per
# library: "name archive linked...". With LIBRARY DROPPED, DROPPED is taken out of LIBRARY's links
# and the check must then find a call it no longer reaches (the check checking itself).
set -euo pipefail
export LC_ALL=C
floors=$1
only=${2:-}
dropped=${3:-}
declare -A archive links
while read -r name path rest; do
  archive[$name]=$path
  links[$name]=$rest
done <"$floors"
[ -z "$dropped" ] || links[$only]=$(tr ' ' '\n' <<<"${links[$only]}" | grep -vx "$dropped" | xargs)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Strong definitions only: inline functions and templates (weak) are emitted by every user.
for name in "${!archive[@]}"; do
  nm -g --defined-only --format=posix "${archive[$name]}" 2>/dev/null |
    awk -v lib="$name" '$2 ~ /^[TDBR]$/ { print $1, lib }'
done | sort -u >"$work/defined"
closure() { # the libraries $1 links, transitively
  local todo=(${links[$1]}) seen=" " l
  while [ ${#todo[@]} -gt 0 ]; do
    l=${todo[0]}
    todo=("${todo[@]:1}")
    case $seen in *" $l "*) continue ;; esac
    seen+="$l "
    todo+=(${links[$l]:-})
  done
  echo "$seen"
}
bad=0
reached=0
for name in ${only:-${!archive[@]}}; do
  below=$(closure "$name")
  nm -g --undefined-only --format=posix "${archive[$name]}" 2>/dev/null | awk '{ print $1 }' |
    sort -u | join - "$work/defined" >"$work/used" || true
  while read -r symbol owner; do
    [ "$owner" = "$name" ] && continue
    case $below in
      *" $owner "*) reached=$((reached + 1)) ;;
      *) echo "$name calls $(c++filt "$symbol") of $owner, which it does not link"; bad=$((bad + 1)) ;;
    esac
  done <"$work/used"
done
echo "check-calls: $reached calls reach the floors below, $bad do not"
if [ -n "$dropped" ]; then
  [ "$bad" -gt 0 ] || { echo "check-calls: nothing of $dropped was found missing from $only"; exit 1; }
  exit 0
fi
[ "$reached" -gt 0 ] && [ "$bad" -eq 0 ]
