#!/usr/bin/env bash
# The main job: builds and runs the example over a sample server transcript.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
BUILD_DIR=$build "$root/scripts/build.sh"
"$build/examples/parse_lines" "${1:-$root/examples/sample_session.txt}"
