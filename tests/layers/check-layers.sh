#!/usr/bin/env bash
# Fails when an include runs against the layer order of src/:
# base <- widgets <- comm <- controller <- plan <- run <- remote <- app <- main.cpp and
# ristova-run.cpp (which, being headless, includes no Qt either).
# A folder may include from its own layer and the ones below it; core files
# (outside ui/ folders) include no ui/ header and no Qt header.
set -uo pipefail
src=${1:?usage: check-layers.sh SRC_DIR}
declare -A rank=([base]=0 [widgets]=1 [comm]=2 [controller]=3 [plan]=4 [run]=5 [remote]=6 [app]=7)
bad=0
while IFS= read -r file; do
  rel=${file#"$src"/}
  if [ "$rel" = main.cpp ] || [ "$rel" = ristova-run.cpp ]; then own=8; else own=${rank[${rel%%/*}]:-}; fi
  if [ -z "$own" ]; then
    echo "$rel: folder not in the layer order"; bad=1; continue
  fi
  core=1
  case "$rel" in */ui/*|main.cpp) core=0 ;; esac
  while IFS= read -r line; do
    n=${line%%:*}
    inc=${line#*:}
    if [[ $inc =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([a-z]+)/([^\"]*)\" ]]; then
      dir=${BASH_REMATCH[1]}; rest=${BASH_REMATCH[2]}
      r=${rank[$dir]:-}
      if [ -n "$r" ] && [ "$r" -gt "$own" ]; then
        echo "$rel:$n: includes $dir/$rest from a layer above"; bad=1
      fi
      if [ "$core" = 1 ] && [[ $rest == ui/* ]]; then
        echo "$rel:$n: core file includes the ui header $dir/$rest"; bad=1
      fi
    elif [ "$core" = 1 ] && [[ $inc =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<Q ]]; then
      echo "$rel:$n: core file includes Qt"; bad=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
done < <(find "$src" -name '*.h' -o -name '*.cpp' | sort)
[ "$bad" = 0 ] && echo "layer order holds"
exit "$bad"
