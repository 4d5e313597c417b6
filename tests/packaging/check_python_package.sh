#!/usr/bin/env bash
# The Python package as a user meets it, offline: `pip install .` into a fresh venv of Debian's
# interpreter, then one wheel, whose tag is checked, installed into a fresh venv of every other
# python3 found (the first on PATH, plus any given). Each runs a short session over a
# socketpair from outside the checkout. Usage: check_python_package.sh [PYTHON...]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
session=$root/tests/packaging/socketpair_session.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_CACHE_DIR=1

/usr/bin/python3 -m venv "$work/venv"
"$work/venv/bin/pip" install -q --no-build-isolation "$root"
(cd "$work" && venv/bin/python "$session" "$root/tessel_client_py/tessel_client.pyi")

# Same build folder as the install above, so this only packs.
"$work/venv/bin/pip" wheel -q --no-build-isolation --no-deps -w "$work/dist" "$root"
wheels=("$work"/dist/*.whl)
name=$(basename "${wheels[0]}")
[[ ${#wheels[@]} -eq 1 && $name == tessel_client-*-cp311-abi3-linux_x86_64.whl ]] ||
  { echo "unexpected wheel: ${wheels[*]}" >&2; exit 1; }
echo "wheel: $name"

seen=()
n=0
for candidate in /usr/bin/python3 "$(command -v python3 || true)" "$@"; do
  [ -n "$candidate" ] && [ -x "$candidate" ] || continue
  real=$(readlink -f "$candidate")
  for s in "${seen[@]}"; do [ "$s" = "$real" ] && continue 2; done
  seen+=("$real")
  n=$((n + 1))
  "$candidate" -m venv "$work/wheel-venv-$n"
  "$work/wheel-venv-$n/bin/pip" install -q "${wheels[0]}"
  (cd "$work" && "wheel-venv-$n/bin/python" "$session")
done
