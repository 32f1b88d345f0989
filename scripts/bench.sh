#!/usr/bin/env bash
# The speed and memory benchmark (see the README): builds the program and its operations'
# timer, then runs scripts/bench/bench.py with Wine's server, the display and every timed
# process on one CPU (BENCH_CPU, default the last), the update server on another.
# Arguments go to bench.py: --runs N (default 3), --skip-1g.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
for tool in curl unzip taskset; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (apt-get install ${tool/taskset/util-linux})"; exit 1; }
done
export ZYN_BUILD=${ZYN_BUILD:-$root/build}
"$root/scripts/build.sh" "$ZYN_BUILD"
cmake --build "$ZYN_BUILD" --target zynbench

cpu=${BENCH_CPU:-$(($(nproc) - 1))}
other=$(( cpu == 0 ? 1 : 0 ))
[ "$(nproc)" -gt 1 ] || other=$cpu
# Timings that cross CPUs under Wine vary by several times: this prefix's server and a
# display of our own start again on the benchmark's CPU.
export WINEPREFIX="$ZYN_BUILD/wineprefix"
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
unset DISPLAY
taskset -p -c "$cpu" $$ >/dev/null
source "$root/scripts/wine-env.sh"
trap zyn_wine_stop EXIT
echo "bench: timed processes on CPU $cpu, the update server on CPU $other; load: $(cut -d' ' -f1-3 /proc/loadavg)"
taskset -c "$other" python3 "$root/scripts/bench/bench.py" --cpu "$cpu" "$@"
echo "bench: load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
