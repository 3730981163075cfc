#!/usr/bin/env bash
# Fails on any include that leaves its layer: every file may include its own
# folder and the folders its row below names, nothing else (a file, not a
# folder, allows that one file). Nothing includes upward, portdebug/ and
# dpplog/ never include each other, and of the host folders only the host
# implementations and the tools' client library (for the host platform's file
# layout) include anything. The tools name the DPP log categories and levels
# from the daemon's own table (dpplog/flag_table.h, a library of its own), and
# every program reports the version of the generated header. Tests, fuzz
# harnesses and benchmarks may reach in.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A may=(
  [wire]=""
  [xipc]="wire platform/output.h"
  [platform]="wire"
  [portdebug]="platform xipc wire"
  [dpplog]="platform xipc wire"
  [frame]="portdebug dpplog platform xipc wire generated/version.h"
  [platform/host]="platform wire"
  [xipc/host]="xipc platform/host wire"
  [tools/cli]="dpplog/flag_table.h generated/version.h"
  [tools/client]="platform/host/layout.h xipc wire"
  [tools/dppsim]="tools/cli tools/client xipc wire dpplog/flag_table.h"
  [tools/dravikctl]="tools/cli tools/client portdebug xipc wire"
)
daemon=(wire xipc platform portdebug dpplog frame)
status=0
while IFS=: read -r file line text; do
  [[ $file == *_test.cpp ]] && continue
  inc=${text#*\"} && inc=${inc%%\"*} && from=${file%/*} && to=${inc%/*} && ok=0
  [[ -v may[$from] ]] || { echo "$file: $from/ has no row in $0" >&2 && status=1 && continue; }
  for a in "$from" ${may[$from]}; do [[ $to == "$a" || $inc == "$a" ]] && ok=1; done
  ((ok)) || { echo "$file:$line: $from/ may not include \"$inc\"" >&2 && status=1; }
done < <(grep -rn --include='*.h' --include='*.cpp' '^#include "' "${daemon[@]}" tools)
# The host's own transport (Unix-domain sockets, Linux headers) is known only
# to the host implementations.
while IFS=: read -r file line text; do
  [[ $file == *_test.cpp || $file == */host/* ]] && continue
  echo "$file:$line: only platform/host/ and xipc/host/ may include ${text#\#include }" >&2
  status=1
done < <(grep -rnE --include='*.h' --include='*.cpp' '^#include <(sys/un\.h|linux/)' "${daemon[@]}")
[ "$status" -eq 0 ] && echo "layers: every include points down"
exit "$status"
