#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# velkshared-server, as a user runs it: start and stop, run, standalone and
# cluster; the command's exit status passed through; nothing left running
# after a killed command or a server that fails to start; nothing listening
# beyond loopback; a folder too deep for a socket path.
#   server_test.sh VELKSHARED-SERVER WORK-DIR
set -euo pipefail
server=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

failures=0
check() {  # check WHAT COMMAND...: the command must succeed
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}

pids_of() { awk '$1 == "pid" { print $2 }' "$1/velkshared-server.state"; }
none_alive() {
  local pid
  for pid in "$@"; do
    if kill -0 "$pid" 2> /dev/null && ! grep -q '^State:.*Z' "/proc/$pid/status" 2> /dev/null; then
      return 1
    fi
  done
}
# Every listening socket on PORT is bound to 127.0.0.1 (and there is one).
loopback_only() {
  local port hex
  port=$1
  hex=$(printf '%04X' "$port")
  local lines
  lines=$(awk -v p=":$hex" '$4 == "0A" && substr($2, length($2) - 4) == p { print $2 }' /proc/net/tcp /proc/net/tcp6)
  [ -n "$lines" ] && ! grep -qv '^0100007F:' <<< "$lines"
}

# start and stop, on a Unix socket in a folder of its own.
out=$("$server" start)
eval "$out"
dir=$VELKSHARED_SERVER_DIR
pids=$(pids_of "$dir")
check "start prints the URL and the folder" grep -q "^VELKSHARED_URL='unix://$dir/redis.sock'; export VELKSHARED_URL$" <<< "$out"
check "the server answers" sh -c "redis-cli -s '$dir/redis.sock' ping | grep -q PONG"
check "it keeps nothing on disk" sh -c "redis-cli -s '$dir/redis.sock' config get save | grep -qx ''"
check "it listens on no port" sh -c "redis-cli -s '$dir/redis.sock' config get port | tail -n 1 | grep -qx 0"
"$server" stop
# shellcheck disable=SC2086
check "stop ends its server" none_alive $pids
check "stop removes the folder it made" test ! -e "$dir"
unset VELKSHARED_SERVER_DIR VELKSHARED_URL

# --tcp: a free port of 127.0.0.1, and nothing else.
eval "$("$server" start --dir "$work/tcp" --tcp)"
port=${VELKSHARED_URL##*:}
check "--tcp gives a loopback URL" grep -qE '^redis://127\.0\.0\.1:[0-9]+$' <<< "$VELKSHARED_URL"
check "--tcp listens on loopback only" loopback_only "$port"
"$server" stop --dir "$work/tcp"
check "stop leaves the given folder empty" sh -c "[ -z \"\$(ls -A '$work/tcp')\" ]"

# run: the command's status, however it ends; nothing left behind.
status=0
"$server" run --dir "$work/run" -- sh -c 'redis-cli -s "${VELKSHARED_URL#unix://}" ping > /dev/null && exit 7' || status=$?
check "run passes the exit status on" test "$status" -eq 7
status=0
"$server" run --dir "$work/run" -- sh -c 'cp "$0/velkshared-server.state" "$0/seen"; kill -9 $$' "$work/run" \
  2> /dev/null || status=$?
check "a command killed by a signal: 128 + its number" test "$status" -eq 137
# shellcheck disable=SC2046
check "nothing left running after a killed command" none_alive $(awk '$1 == "pid" { print $2 }' "$work/run/seen")
status=0
"$server" run -- true || status=$?
check "run without --dir" test "$status" -eq 0

# A server that fails to start: a clear line, status 1, nothing left.
status=0
err=$("$server" start --dir "$work/bad" -- --no-such-option yes 2>&1) || status=$?
check "a server that does not start: status 1" test "$status" -eq 1
check "a server that does not start: says so" grep -q 'redis-server did not start' <<< "$err"
check "a server that does not start: nothing left" test ! -e "$work/bad/velkshared-server.state"
mkdir -p "$work/bin"
for tool in bash mktemp id sha1sum cut seq sleep rm mkdir tr grep readlink cat stat chmod rmdir setsid kill awk; do
  ln -sf "$(command -v "$tool")" "$work/bin/$tool"
done
status=0
err=$(PATH="$work/bin" "$server" run -- true 2>&1) || status=$?
check "redis-server missing: status 1" test "$status" -eq 1
check "redis-server missing: says so" grep -q 'redis-server is not installed' <<< "$err"

# A folder too deep for a socket path: the sockets go to a short one.
deep="$work/$(printf 'd%.0s' $(seq 1 120))"
eval "$("$server" start --dir "$deep")"
socket=${VELKSHARED_URL#unix://}
check "a deep folder gets a short socket path" test "${#socket}" -lt 100
check "its server answers" sh -c "redis-cli -s '$socket' ping | grep -q PONG"
check "url says the same before a start" test "$("$server" url --dir "$deep")" = "$VELKSHARED_URL"
"$server" stop --dir "$deep"
check "stop removes the short socket folder" test ! -e "$(dirname "$socket")"

# A cluster: every slot served, replicas in step, loopback only.
eval "$("$server" start --dir "$work/cluster" --cluster 2 --replicas 1)"
first=${VELKSHARED_URL%%,*}
first=${first#unix://}
check "a cluster of two masters serves every slot" sh -c "redis-cli -s '$first' cluster info | grep -q 'cluster_slots_ok:16384'"
check "its URL names both masters" test "$(tr ',' '\n' <<< "$VELKSHARED_URL" | wc -l)" -eq 2
port=$(redis-cli -s "$first" config get port | tail -n 1)
check "the cluster listens on loopback only" loopback_only "$port"
check "and its bus too" loopback_only $((port + 10000))
pids=$(pids_of "$work/cluster")
"$server" stop --dir "$work/cluster"
# shellcheck disable=SC2086
check "stop ends every node" none_alive $pids

# Bad usage names what is wrong.
for args in "" "frobnicate" "start --cluster 0" "start --replicas 1" "stop --tcp" "run --dir x" "start --bogus"; do
  status=0
  # shellcheck disable=SC2086
  err=$("$server" $args 2>&1) || status=$?
  check "bad usage '$args': status 2 and a reason" sh -c "[ $status -eq 2 ] && grep -q '^velkshared-server: ' <<'EOF'
$err
EOF"
done

rm -rf "$work"
[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
echo "all checks passed"
