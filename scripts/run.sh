#!/usr/bin/env bash
# The main job: builds the Python module, starts a throwaway IRC server (Debian's InspIRCd) on
# 127.0.0.1 and runs examples/bot_and_user.py against it: a small bot and a user meet in #demo,
# talk, type, react and change nick, and each side prints what it saw. Exits 0 when every step
# was observed. The server is stopped on every way out. Usage: run.sh [SECONDS] (default 15)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
limit=${1:-15}

"$root/scripts/setup.sh"  # says what it installs, when anything is missing
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "building the Python module into $build ..."
if ! BUILD_DIR=$build "$root/scripts/build.sh" >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi

python=/usr/bin/python3
PYTHONPATH=$build/python "$python" "$root/scripts/ircd/with_server.py" \
  "$python" "$root/examples/bot_and_user.py" 127.0.0.1 "{port}" --limit "$limit"
