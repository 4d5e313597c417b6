#!/usr/bin/env bash
# The main job: builds the project, starts a throwaway IRC server (Debian's InspIRCd) on
# 127.0.0.1 and runs examples/bot_and_user.py against it: a small bot and a user meet in #demo,
# talk, type, react and change nick, and each side prints what it saw. Exits 0 when every step
# was observed. The server is stopped on every way out. Usage: run.sh [SECONDS] (default 15)
# The first run builds everything (tests, benchmarks, examples too) and takes minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
limit=${1:-15}

# Ninja's "[done/total]" lines as a count that moves: in place on a terminal, else a line for
# every tenth of the way. Everything else goes only to the log, shown when the build fails.
progress() {
  local line step total=0 shown=-1
  while IFS= read -r line; do
    [[ $line =~ ^\[([1-9][0-9]*)/([0-9]+)\] ]] || continue  # [0/N]: CMake re-checking, not the build
    ((BASH_REMATCH[2] == total)) || shown=-1
    step=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    if [ -t 1 ]; then
      printf '\r  step %d of %d' "$step" "$total"
    elif ((step * 10 / total > shown)); then
      shown=$((step * 10 / total))
      printf '  step %d of %d\n' "$step" "$total"
    fi
  done
  if [ -t 1 ] && ((total)); then echo; fi
}

"$root/scripts/setup.sh"  # says what it installs, when anything is missing
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "building into $build: the first run builds the module, the tests, the benchmarks and the"
echo "examples, which takes minutes (six or so on a busy machine); later runs build what changed"
if ! BUILD_DIR=$build "$root/scripts/build.sh" 2>&1 | tee "$log" | progress; then
  cat "$log" >&2
  exit 1
fi

python=/usr/bin/python3
PYTHONPATH=$build/python "$python" "$root/scripts/ircd/with_server.py" \
  "$python" "$root/examples/bot_and_user.py" 127.0.0.1 "{port}" --limit "$limit"
