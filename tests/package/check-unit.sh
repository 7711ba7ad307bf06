#!/usr/bin/env bash
# The shipped service unit as systemd reads it, pointed at the built runner:
# no errors, and an exposure of at most 2.0 in systemd's own rating.
#   check-unit.sh UNIT RUNNER SYSTEMD_ANALYZE
set -euo pipefail
unit=$1 runner=$2 analyze=$3
d=$(mktemp -d)
trap 'rm -rf "$d"' EXIT
f="$d/ristova@srv-ristova.service"
sed "s#/usr/local/bin/ristova-run#$runner#" "$unit" >"$f"
# The man page that Documentation= names is there once installed.
"$analyze" verify --man=no "$f"
if ! rating=$("$analyze" security --offline=true --threshold=20 "$f" 2>&1); then
  grep -E '✗|Overall' <<<"$rating" >&2
  echo "FAIL: the unit's exposure is above 2.0" >&2
  exit 1
fi
grep 'Overall exposure' <<<"$rating"
