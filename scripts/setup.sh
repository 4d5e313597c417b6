#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12), only when something is missing.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libsodium-dev python3-dev python3-pytest python3-yaml
          clang libclang-rt-14-dev)  # the second compiler, its sanitizer and libFuzzer runtimes
# IRC servers the integration tests and the main job start on loopback as child processes, and
# openssl, which makes the certificates of their TLS ports and of the tests' clients.
servers=(inspircd atheme-services ngircd openssl)

missing=()
for p in "${packages[@]}" "${servers[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # The server packages would start system-wide daemons; nothing here wants them, so service
  # starts are refused for the length of the install unless a policy already decides.
  guard=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    guard=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$guard" >/dev/null
    $sudo chmod 755 "$guard"
    trap '$sudo rm -f "$guard"' EXIT
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
