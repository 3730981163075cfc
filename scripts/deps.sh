#!/usr/bin/env bash
# Installs the Debian packages dravik needs, those missing only: always what
# building and testing it takes, and for each argument what one more job takes.
#   format    clang-format (the formatting check of scripts/test.sh)
#   bench     Google Benchmark, gnuplot, and rsyslog if it can be had (scripts/bench.sh)
#   fuzz      clang and its sanitizer runtimes (scripts/fuzz.sh)
#   memcheck  valgrind (scripts/memcheck.sh)
set -euo pipefail
need=(g++ cmake ninja-build libgtest-dev libgmock-dev libcli11-dev) optional=()
for job in "$@"; do
  case $job in
    format) need+=(clang-format) ;;
    bench) need+=(libbenchmark-dev gnuplot-nox) optional+=(rsyslog) ;;
    fuzz) need+=(clang libclang-rt-dev) ;;
    memcheck) need+=(valgrind) ;;
    *) echo "deps.sh: no job named $job" >&2 && exit 2 ;;
  esac
done
missing() { for pkg; do dpkg -s "$pkg" >/dev/null 2>&1 || echo "$pkg"; done; }
mapfile -t need < <(missing "${need[@]}")
mapfile -t optional < <(missing "${optional[@]}")
[ "${#need[@]}" -gt 0 ] || [ "${#optional[@]}" -gt 0 ] || exit 0
echo "installing: ${need[*]} ${optional[*]}"
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
install() { DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "$@"; }
$sudo_cmd apt-get update -q
[ "${#need[@]}" -eq 0 ] || install "${need[@]}"
for pkg in "${optional[@]}"; do install "$pkg" || echo "note: $pkg could not be installed"; done
