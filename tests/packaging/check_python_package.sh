#!/usr/bin/env bash
# The Python package as a user meets it, offline: `pip install .` into a fresh venv of Debian's
# interpreter, then one wheel, whose tag is checked, installed into a fresh venv of every other
# python3 found (the first on PATH, plus any given). Each runs a short session over a
# socketpair from outside the checkout. A python3 without wheel gets a build error that says
# so. Usage: check_python_package.sh [PYTHON...]
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

# Under an interpreter with no wheel package to lend (a pyenv-built one, say) the build stops at
# once and says what is missing, for which interpreter, and what to do instead.
for candidate in "$(command -v python3 || true)" "$@"; do
  [ -n "$candidate" ] && [ -x "$candidate" ] || continue
  "$candidate" -c "import wheel" 2>/dev/null && continue
  "$candidate" -m venv "$work/no-wheel-venv"
  if "$work/no-wheel-venv/bin/pip" install -q --no-build-isolation "$root" >"$work/no-wheel.log" 2>&1 ||
    ! grep -q "which $work/no-wheel-venv/bin/python.* cannot import.*/usr/bin/python3 -m venv" "$work/no-wheel.log"; then
    cat "$work/no-wheel.log" >&2
    echo "a build without wheel did not say what is missing" >&2
    exit 1
  fi
  echo "without wheel: $candidate says so"
  break
done
