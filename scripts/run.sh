#!/usr/bin/env bash
# Sets up, builds, and runs ZynUpdate.exe on a sample installation against an update
# server on 127.0.0.1. With a display the dialog is yours to drive; without one the
# update runs on a virtual display and the result is printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
export ZYN_BUILD=${ZYN_BUILD:-$root/build}
"$root/scripts/build.sh" "$ZYN_BUILD"
mode=""; [ -n "${DISPLAY:-}" ] && mode="--interactive"
source "$root/scripts/wine-env.sh"
trap zyn_wine_stop EXIT
python3 "$root/scripts/demo.py" $mode
