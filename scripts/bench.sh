#!/usr/bin/env bash
# The speed and memory benchmark (see the README): builds the program and its operations'
# timer, then runs scripts/bench/bench.py with Wine's server, the display and every timed
# process on one CPU (BENCH_CPU, default the last), the update server on another.
# Arguments go to bench.py: --runs N (default 3), --skip-1g, --delta-updates-only. The delta
# sizes against bsdiff, xdelta3 and zstd follow; with --deltas-only first, only they run
# (scripts/bench/deltas.py, which takes the arguments after it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deltas_only=""
if [ "${1:-}" = "--deltas-only" ]; then deltas_only=1; shift; fi
# The delta tools that ours is compared with.
"$root/scripts/setup.sh" bsdiff xdelta3 zstd
for tool in curl unzip taskset; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (apt-get install ${tool/taskset/util-linux})"; exit 1; }
done
export ZYN_BUILD=${ZYN_BUILD:-$root/build}
"$root/scripts/build.sh" "$ZYN_BUILD"
cmake --build "$ZYN_BUILD" --target zynbench zyndelta

# Our deltas against bsdiff, xdelta3 and zstd on the same pairs, on the benchmark's CPU.
delta_table() {
  python3 "$root/scripts/bench/deltas.py" --cpu "$cpu" "$@"
}

# A root filesystem without a journal, as on these machines, makes ext4 pass over every
# inode freed in the last minutes before it gives out a new one: file creation after a
# deletion then slows by up to twenty times, unevenly from step to step. Drive D is
# therefore a journaled ext4 image of its own, as a Windows volume is journaled, where it
# can be mounted (root); elsewhere it stays build/drive_d.
drive="$ZYN_BUILD/bench-drive"
end_bench() {
  if type zyn_wine_stop >/dev/null 2>&1; then zyn_wine_stop; fi
  if mountpoint -q "$drive"; then umount "$drive" && rm -f "$drive.img"; fi
}
trap end_bench EXIT
if [ -z "$deltas_only" ] && [ -z "${ZYN_DRIVE_D:-}" ] && [ "$(id -u)" = 0 ] && command -v mkfs.ext4 >/dev/null; then
  mountpoint -q "$drive" && umount "$drive"
  mkdir -p "$drive"
  rm -f "$drive.img"
  truncate -s 12G "$drive.img"
  if mkfs.ext4 -q -F "$drive.img" && mount -o loop "$drive.img" "$drive"; then
    export ZYN_DRIVE_D="$drive"
  fi
fi
echo "bench: drive D is ${ZYN_DRIVE_D:-$ZYN_BUILD/drive_d} ($(df --output=fstype "${ZYN_DRIVE_D:-$ZYN_BUILD}" | tail -1))"

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
echo "bench: timed processes on CPU $cpu, the update server on CPU $other; load: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "$deltas_only" ]; then
  delta_table "$@"
  exit
fi
taskset -c "$other" python3 "$root/scripts/bench/bench.py" --cpu "$cpu" "$@"
delta_table
echo "bench: load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
