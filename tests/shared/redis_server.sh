#!/bin/sh
# SPDX-License-Identifier: MIT
# A private redis-server for the shared store's tests: a Unix socket in the
# given folder, nothing saved, started and stopped by CTest fixtures.
#   redis_server.sh start DIR [SERVER OPTIONS...]
#   redis_server.sh stop DIR
set -eu
what=$1
dir=$2
shift 2
socket="$dir/redis.sock"
case $what in
  start)
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    socket="$dir/redis.sock"
    if [ -f "$dir/redis.pid" ] && kill -0 "$(cat "$dir/redis.pid")" 2>/dev/null; then
      kill "$(cat "$dir/redis.pid")"
      sleep 0.2
    fi
    rm -f "$socket" "$dir/redis.pid"
    redis-server --port 0 --unixsocket "$socket" --unixsocketperm 700 --save '' --appendonly no \
      --daemonize yes --pidfile "$dir/redis.pid" --logfile "$dir/redis.log" --dir "$dir" "$@"
    tries=0
    # A server with a password answers NOAUTH: it is up all the same.
    until redis-cli -s "$socket" ping 2>/dev/null | grep -qE 'PONG|NOAUTH'; do
      tries=$((tries + 1))
      [ $tries -lt 100 ] || { echo "redis-server did not answer on $socket" >&2; cat "$dir/redis.log" >&2; exit 1; }
      sleep 0.05
    done
    echo "redis-server answering on $socket" ;;
  stop)
    if [ -f "$dir/redis.pid" ]; then
      pid=$(cat "$dir/redis.pid")
      redis-cli -s "$socket" shutdown nosave >/dev/null 2>&1 || true
      tries=0
      while kill -0 "$pid" 2>/dev/null && [ $tries -lt 20 ]; do tries=$((tries + 1)); sleep 0.05; done
      # One that refused (a password) or hangs (a test stopped it) is ended.
      kill -CONT "$pid" 2>/dev/null || true
      kill "$pid" 2>/dev/null || true
      tries=0
      while kill -0 "$pid" 2>/dev/null && [ $tries -lt 100 ]; do tries=$((tries + 1)); sleep 0.05; done
      rm -f "$dir/redis.pid"
    fi ;;
  *) echo "usage: redis_server.sh start|stop DIR [OPTIONS...]" >&2; exit 2 ;;
esac
