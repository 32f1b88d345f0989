#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
export ZYN_BUILD=${ZYN_BUILD:-$root/build}
"$root/scripts/build.sh" "$ZYN_BUILD"
source "$root/scripts/wine-env.sh"
trap zyn_wine_stop EXIT
cd "$ZYN_BUILD"
ctest --output-on-failure --timeout 300 "$@"
