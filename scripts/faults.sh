#!/usr/bin/env bash
# The fault-injection runs on one build: the suites of the ctest label
# "faults" (full and read-only disks, signal storms, killed processes), with
# the long cases; then, with --storm [COUNT], the signal storm bench.
#   scripts/faults.sh [BUILD] [--storm [COUNT]]      (BUILD default: build)
# STORM_SEED=<n> replays the storms' signals.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build
case ${1:-} in --storm | '') ;; *) build=$(realpath "$1"); shift ;; esac
FAULTS_LONG=1 ctest --test-dir "$build" -L faults --output-on-failure
if [ "${1:-}" = --storm ]; then
    "$repo/bench/signal_storm.sh" "${2:-200}" "$build"
fi
