#!/usr/bin/env bash
# The main job: builds the Python module, starts a throwaway IRC server (InspIRCd, from Debian)
# on 127.0.0.1 and runs examples/session.py against it: one Client registers, gets private
# messages from a second connection, answers the server's PING and disconnects. Bounded in time;
# the server is stopped on every way out. Usage: run.sh [SECONDS] (the session's limit, default 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
limit=${1:-30}
BUILD_DIR=$build "$root/scripts/build.sh"

ircd=/usr/sbin/inspircd
if [ ! -x "$ircd" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  # Debian's package would start a system-wide server; policy-rc.d usually forbids that in
  # containers, and nothing here relies on it either way.
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends inspircd >/dev/null
fi

python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)

work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

port=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -e "s|@PORT@|$port|g" -e "s|@DIR@|$work|g" -e "s|@SERVICES@||" "$root/scripts/ircd/inspircd.conf.in" > "$work/inspircd.conf"
echo "A throwaway server for the tessel_client session." > "$work/motd.txt"

as_root=()
[ "$(id -u)" -ne 0 ] || as_root=(--runasroot)
"$ircd" --config "$work/inspircd.conf" --nofork "${as_root[@]}" > "$work/server.out" 2>&1 < /dev/null &
server_pid=$!

# Wait (at most 10 s) until the server accepts connections.
if ! "$python" - "$port" <<'PY'
import socket, sys, time
deadline = time.monotonic() + 10
while time.monotonic() < deadline:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
PY
then
  echo "the IRC server did not start:" >&2
  cat "$work/server.out" "$work/ircd.log" >&2 2>/dev/null || true
  exit 1
fi
echo "InspIRCd listening on 127.0.0.1:$port"

PYTHONPATH=$build/python timeout "$((limit + 10))" "$python" "$root/examples/session.py" 127.0.0.1 "$port" "$limit"
