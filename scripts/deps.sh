#!/usr/bin/env bash
# Installs what building and testing dravik needs, when it is missing.
set -euo pipefail
need=()
for pkg in g++ cmake ninja-build libgtest-dev libgmock-dev libcli11-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ "${#need[@]}" -gt 0 ]; then
  echo "installing: ${need[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${need[@]}"
fi
