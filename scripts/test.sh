#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (C++ and Python) through ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
BUILD_DIR=$build "$root/scripts/build.sh" "$@"
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
