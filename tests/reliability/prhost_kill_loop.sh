#!/usr/bin/env bash
# Kill loop over the real programs: four loops of `prhost add` share one
# PARTNERI.TWL; a random running prhost is killed with SIGKILL every 5 to
# 50 ms and `twl verify` runs after every kill while the others go on.  At the
# end every partner a prhost printed (an acknowledged add) must be in the file
# exactly once, and no identifier may be doubled.
#
#   tests/reliability/prhost_kill_loop.sh [BUILD_DIR [SECONDS]]
#
# Prints the figures; exit 0 when nothing was found.  Not part of ctest (it
# runs for minutes); see docs/RELIABILITY.md.
set -u
build=$(cd "${1:-build}" && pwd)
seconds=${2:-600}
prhost="$build/prhost"
twl="$build/twl"
work=$(mktemp -d /tmp/pr_kill_loop_XXXXXX)
cd "$work" || exit 2

writer() {
  local slot=$1 n=0 rc
  while [ ! -e stop ]; do
    local names=()
    for _ in 1 2 3 4 5; do names+=("w${slot}n$n"); n=$((n + 1)); done
    "$prhost" --ui=headless add "${names[@]}" >>"out.$slot" 2>>"err.$slot" &
    echo $! >"pid.$slot"
    wait $! 2>/dev/null
    rc=$?
    [ $rc -ne 0 ] && [ $rc -ne 137 ] && echo "$rc" >>"fail.$slot"
  done
}

for slot in 0 1 2 3; do writer $slot & done
start=$(date +%s)
kills=0
verifies=0
faults=0
while [ $(( $(date +%s) - start )) -lt "$seconds" ]; do
  sleep "0.$(printf %03d $(( RANDOM % 46 + 5 )))"
  slot=$(( RANDOM % 4 ))
  pid=$(cat "pid.$slot" 2>/dev/null) || continue
  kill -9 "$pid" 2>/dev/null || continue
  kills=$((kills + 1))
  if ! "$twl" verify PARTNERI.TWL >verify.out 2>&1; then
    faults=$((faults + 1))
    echo "kill $kills: twl verify failed:"
    cat verify.out
    cp PARTNERI.TWL "PARTNERI.fault$faults" 2>/dev/null
    [ $faults -ge 3 ] && break
  fi
  verifies=$((verifies + 1))
done
touch stop
wait

"$twl" recover PARTNERI.TWL >/dev/null 2>&1
final=0
"$twl" verify PARTNERI.TWL >verify.out 2>&1 || { final=1; cat verify.out; }
"$twl" dump PARTNERI.TWL --format csv | tail -n +2 >dump.csv
cat out.* 2>/dev/null | awk -F'\t' 'NF == 2 && $1 > 0 { print $2 }' | sort >acknowledged
cut -d, -f2 dump.csv | sort >stored
acknowledged=$(wc -l <acknowledged)
stored=$(wc -l <stored)
lost=$(comm -23 acknowledged <(sort -u stored) | wc -l)
doubledNames=$(uniq -d stored | wc -l)
doubledIds=$(cut -d, -f1 dump.csv | sort | uniq -d | wc -l)
failedRuns=$(cat fail.* 2>/dev/null | wc -l)
echo "seconds $seconds, kills $kills, verifies after a kill $verifies, verify faults $faults"
echo "acknowledged adds $acknowledged, records stored $stored, lost $lost, names doubled $doubledNames," \
     "identifiers doubled $doubledIds, prhost runs that failed by themselves $failedRuns, final verify fault $final"
echo "work folder: $work"
[ $faults -eq 0 ] && [ $final -eq 0 ] && [ "$lost" -eq 0 ] && [ "$doubledNames" -eq 0 ] && [ "$doubledIds" -eq 0 ]
