#!/usr/bin/env bash
# Imports the one tessel_client.abi3.so under every python3 interpreter found (Debian's and the
# first on PATH when they differ) and builds a Client with each. Usage: check_abi3_import.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$root/build}}
module_dir=$build/python
[ -f "$module_dir/tessel_client.abi3.so" ] || { echo "no $module_dir/tessel_client.abi3.so" >&2; exit 1; }

interpreters=()
for candidate in /usr/bin/python3 "$(command -v python3 || true)"; do
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
print(f"tessel_client imports under {sys.executable} {sys.version.split()[0]}")
PY
done
