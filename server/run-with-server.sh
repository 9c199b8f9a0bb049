#!/usr/bin/env bash
# Runs a command while the local update server serves a fresh temporary root.
#
#   server/run-with-server.sh [--seed DIR] [--] command args...
#
# The command sees:
#   FK_SERVER_PORT      the port the server listens on (127.0.0.1 only)
#   FK_SERVER_ROOT      the served folder (Unix path), FK_SERVER_ROOT_WIN the same as Z:\...
#   FK_SERVER_LOG       the request log (Unix path), FK_SERVER_LOG_WIN the same as Z:\...
# Set FK_KEEP_SERVER_ROOT=1 to keep the folder afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seed=
while [ $# -gt 0 ]; do
  case $1 in
    --seed) seed=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--seed DIR] [--] command..." >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/updserver.XXXXXX")
root=$work/root
mkdir -p "$root"
if [ -n "$seed" ]; then
  cp -a "$seed"/. "$root"/
fi
log=$work/requests.log
: >"$log"

python3 "$here/updserver.py" --root "$root" --port 0 --port-file "$work/port" \
  --log "$log" --max-seconds "${FK_SERVER_MAX_SECONDS:-3600}" &
server=$!

cleanup() {
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  if [ -z "${FK_KEEP_SERVER_ROOT:-}" ]; then
    rm -rf "$work"
  else
    echo "server root kept: $root" >&2
  fi
}
trap cleanup EXIT

for _ in $(seq 1 100); do
  [ -s "$work/port" ] && break
  kill -0 "$server" 2>/dev/null || { echo "update server did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/port" ] || { echo "update server did not report its port" >&2; exit 1; }

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
export FK_SERVER_PORT=$(tr -d '[:space:]' <"$work/port")
export FK_SERVER_ROOT=$root FK_SERVER_ROOT_WIN=$(winpath "$root")
export FK_SERVER_LOG=$log FK_SERVER_LOG_WIN=$(winpath "$log")

set +e
"$@"
rc=$?
set -e
exit $rc
