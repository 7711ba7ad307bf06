#!/usr/bin/env bash
# Fails when an include runs against the layer order of src/:
# base <- widgets <- comm <- controller <- plan <- run <- remote <- api <- app <- main.cpp and
# ristova-run.cpp (which, being headless, includes no Qt either).
# A folder may include from its own layer and the ones below it; core files
# (outside ui/ folders) include no ui/ header and no Qt header. A layer's
# posix/ and win32/ sub-folders hold the platform backends of its fronts:
# only they include the platform's headers, and no other file includes them.
set -uo pipefail
src=${1:?usage: check-layers.sh SRC_DIR}
declare -A rank=([base]=0 [widgets]=1 [comm]=2 [controller]=3 [plan]=4 [run]=5 [remote]=6 [api]=7 [app]=8)
# The platform's own headers.
platform_header='^(unistd|fcntl|poll|termios|dlfcn|pthread|signal|iconv|pty|windows|dirent|fnmatch|pwd|grp)\.h$|^(sys|systemd|linux|asm)/'
# Files outside the backends that still include a platform header, each
# with the header and why. Shrink it; never grow it for a file that could
# call a front instead.
declare -A allowed=(
)
bad=0
while IFS= read -r file; do
  rel=${file#"$src"/}
  if [ "$rel" = main.cpp ] || [ "$rel" = ristova-run.cpp ] || [ "$rel" = ristova-ctl.cpp ]; then own=9; else own=${rank[${rel%%/*}]:-}; fi
  if [ -z "$own" ]; then
    echo "$rel: folder not in the layer order"; bad=1; continue
  fi
  core=1
  case "$rel" in */ui/*|main.cpp) core=0 ;; esac
  platform=
  case "$rel" in */posix/*) platform=posix ;; */win32/*) platform=win32 ;; esac
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
      if [[ $rest =~ ^(posix|win32)/ ]] && [ "${BASH_REMATCH[1]}" != "$platform" ]; then
        echo "$rel:$n: includes the backend header $dir/$rest"; bad=1
      fi
    elif [[ $inc =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]*)\> ]]; then
      header=${BASH_REMATCH[1]}
      if [ "$core" = 1 ] && [[ $header == Q* ]]; then
        echo "$rel:$n: core file includes Qt"; bad=1
      fi
      if [ -z "$platform" ] && [[ $header =~ $platform_header ]] && [ -z "${allowed[$rel:$header]:-}" ]; then
        echo "$rel:$n: includes the platform header <$header> outside a posix/ or win32/ folder"; bad=1
      fi
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
done < <(find "$src" -name '*.h' -o -name '*.cpp' | sort)
[ "$bad" = 0 ] && echo "layer order holds"
exit "$bad"
