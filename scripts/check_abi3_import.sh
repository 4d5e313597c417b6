#!/usr/bin/env bash
# Imports the one tessel_client.abi3.so under every python3 interpreter found (Debian's and the
# first on PATH when they differ, plus any given after the build directory) and drives a Client
# with each. Usage: check_abi3_import.sh [BUILD_DIR [PYTHON...]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$root/build}}
shift $(( $# > 0 ? 1 : 0 ))
module_dir=$build/python
[ -f "$module_dir/tessel_client.abi3.so" ] || { echo "no $module_dir/tessel_client.abi3.so" >&2; exit 1; }

interpreters=()
for candidate in /usr/bin/python3 "$(command -v python3 || true)" "$@"; do
  [ -n "$candidate" ] && [ -x "$candidate" ] || continue
  real=$(readlink -f "$candidate")
  for seen in "${interpreters[@]}"; do [ "$(readlink -f "$seen")" = "$real" ] && continue 2; done
  interpreters+=("$candidate")
done

for python in "${interpreters[@]}"; do
  TESSEL_MODULE_DIR=$module_dir "$python" - <<'PY'
import os, sys
sys.path.insert(0, os.environ["TESSEL_MODULE_DIR"])
import tessel_client
client = tessel_client.Client("abi")
client.handle_connected()
assert client.poll_transmit() == b"CAP LS 302\r\n"
assert isinstance(client.model(), dict)
try:
    client.tick(0, -1)
except OverflowError as exc:
    assert exc.__notes__ == ["while processing 'unix_ms'"]
else:
    raise AssertionError("tick accepted -1")
print(f"tessel_client imports under {sys.executable} {sys.version.split()[0]}")
PY
done
