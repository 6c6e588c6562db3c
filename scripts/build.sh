#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh [DIR [cmake options]]
# (default DIR: build). The tool is DIR/debug. Warnings are errors here
# (-DDEBUG_WERROR=OFF among the options turns that off).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$repo/build}
shift || true
cmake -S "$repo" -B "$dir" -G Ninja -DDEBUG_WERROR=ON "$@" >/dev/null
cmake --build "$dir"
