#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# velkshared-server, as a user runs it: start and stop, run, standalone and
# cluster; the command's exit status passed through; nothing left running
# after a killed command or a server that fails to start; nothing listening
# beyond loopback; a folder too deep for a socket path; a password, whose
# URL works as printed; nothing said when a server ends as it is stopped.
#   server_test.sh VELKSHARED-SERVER WORK-DIR VELKSHARED-CTL
set -euo pipefail
server=$1
work=$2
ctl=$3
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

# Server options for run, up to a lone "--"; a password, in the URL that
# start prints and the command gets, escaped; the server wants it.
password="p@ss,w0rd %'x"
status=0
out=$("$server" run --dir "$work/pw" -- --requirepass "$password" -- sh -c '
  socket=${VELKSHARED_URL#*@}
  redis-cli -s "$socket" ping 2>&1
  "$0" put ns k "from run" > /dev/null && "$0" get ns k --raw' "$ctl" 2>&1) || status=$?
check "run takes server options: status 0" test "$status" -eq 0
check "run takes server options: the server wants the password" grep -q NOAUTH <<< "$out"
check "run takes server options: the URL carries it" grep -q 'from run$' <<< "$out"
odd="$work/it's,odd@dir"
out=$("$server" start --dir "$odd" -- --requirepass "$password")
check "start prints the password escaped" grep -q "unix://:p%40ss%2Cw0rd%20%25%27x@" <<< "$out"
(
  eval "$out"
  "$ctl" put ns k "as printed" > /dev/null && "$ctl" get ns k --raw > "$work/pw.out"
) || true
check "the printed lines work as they stand" grep -qx 'as printed' "$work/pw.out"
check "url says the same before a start" \
  grep -q "VELKSHARED_URL='$("$server" url --dir "$odd" -- --requirepass "$password")'" <<< "$out"
check "no password in the state file" bash -c '! grep -q w0rd "$1"' - "$odd/velkshared-server.state"
"$server" stop --dir "$odd"

# A server that ends as it is stopped (every run and stop here): nothing
# said, nothing left. Several at once, to meet the moment they exit; and
# with a tr that takes its time, so that the server exits while its
# command line is being read.
race() {
  local i
  for i in 1 2 3 4; do
    "$server" run --dir "$work/race-$1" -- true
    (eval "$("$server" start --dir "$work/race-$1-s")" && "$server" stop)
  done
}
race 1 2> "$work/race-1.err" &
race 2 2> "$work/race-2.err" &
race 3 2> "$work/race-3.err"
wait
mkdir -p "$work/slow"
printf '#!/bin/sh\nsleep 0.3\nexec %s "$@"\n' "$(command -v tr)" > "$work/slow/tr"
chmod +x "$work/slow/tr"
for i in 1 2; do
  PATH="$work/slow:$PATH" "$server" run --dir "$work/race-slow" -- true 2>> "$work/race-slow.err"
  (eval "$("$server" start --dir "$work/race-slow-s")" && PATH="$work/slow:$PATH" "$server" stop) \
    2>> "$work/race-slow.err"
done
cat "$work"/race-*.err > "$work/race.err"
check "stop and run say nothing while their servers exit" test ! -s "$work/race.err"
cat "$work/race.err"
check "nothing left of the stopped servers" sh -c "! ls '$work'/race-*/velkshared-server.state 2> /dev/null"

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

# A cluster with a password: every slot served, replicas in step (signed
# in), loopback only, and the URL it prints works.
eval "$("$server" start --dir "$work/cluster" --cluster 2 --replicas 1 -- --requirepass "$password")"
first=${VELKSHARED_URL%%,*}
first=${first#*@}
export REDISCLI_AUTH=$password
check "a cluster of two masters serves every slot" sh -c "redis-cli -s '$first' cluster info | grep -q 'cluster_slots_ok:16384'"
check "its URL names both masters" test "$(tr ',' '\n' <<< "$VELKSHARED_URL" | wc -l)" -eq 2
check "its URL works as printed" sh -c "'$ctl' put ns k v > /dev/null && '$ctl' get ns k --raw | grep -qx v"
port=$(redis-cli -s "$first" config get port | tail -n 1)
check "the cluster listens on loopback only" loopback_only "$port"
check "and its bus too" loopback_only $((port + 10000))
pids=$(pids_of "$work/cluster")
"$server" stop --dir "$work/cluster"
unset REDISCLI_AUTH VELKSHARED_URL VELKSHARED_SERVER_DIR
# shellcheck disable=SC2086
check "stop ends every node" none_alive $pids

# Bad usage names what is wrong.
for args in "" "frobnicate" "start --cluster 0" "start --replicas 1" "stop --tcp" "run --dir x" "start --bogus" \
  "run -- --requirepass x" "run -- --requirepass x --" "stop -- x"; do
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
