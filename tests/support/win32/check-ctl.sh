#!/bin/bash
# check-ctl.sh FOLDER SIMLOG CTL...: ristova-ctl (the command CTL...)
# against the runner of FOLDER on the simulated board whose log is SIMLOG.
# The status names the controller, a switch reaches the board, and the API
# refuses a request without the token of the folder's socket file.
set -euo pipefail
folder=$1 log=$2
shift 2
ctl=("$@")
controller=模拟继电器控制器.PSW
fail() {
  echo "ristova-ctl: $*" >&2
  exit 1
}
count() { grep -c "$1" "$log" || true; }

out=$("${ctl[@]}" status 2>&1) || fail "status ended with $?: $out"
grep -q "$controller" <<<"$out" || fail "the status names no controller: $out"
before=$(count 'O(00,02,1)E')
out=$("${ctl[@]}" on "$controller" 2 2>&1) || fail "on ended with $?: $out"
for _ in $(seq 50); do
  [ "$(count 'O(00,02,1)E')" -gt "$before" ] && break
  sleep 0.1
done
[ "$(count 'O(00,02,1)E')" -gt "$before" ] || fail "the switch did not reach the board: $out"
rc=0
out=$("${ctl[@]}" on "$controller" 9 2>&1) || rc=$?
[ "$rc" = 1 ] || fail "relay 9 of 2: exit $rc, not 1 (refused): $out"
echo "ristova-ctl.exe: status, a switch to the board and a refusal passed"

python3 - "$folder/.ristova.sock" <<'PY'
import sys
import urllib.error
import urllib.request

url, token = open(sys.argv[1], encoding="ascii").read().split()[:2]
# Straight to the port, whatever proxy the environment names.
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
for path in ("/api/v1/status", "/api/v1/events"):
    for header in ({}, {"Authorization": "Bearer " + "0" * len(token)}):
        try:
            opener.open(urllib.request.Request(url + path, headers=header), timeout=5)
            sys.exit("the API answered %s without the token" % path)
        except urllib.error.HTTPError as e:
            if e.code != 401:
                sys.exit("%s without the token: HTTP %d, not 401" % (path, e.code))
answer = opener.open(urllib.request.Request(
    url + "/api/v1/status", headers={"Authorization": "Bearer " + token}), timeout=5)
if answer.status != 200:
    sys.exit("with the token: HTTP %d" % answer.status)
print("the API at %s: 401 without its token, 200 with it" % url)
PY
