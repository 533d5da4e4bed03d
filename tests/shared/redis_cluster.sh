#!/bin/sh
# SPDX-License-Identifier: MIT
# A private cluster for the shared store's tests: three masters, each with
# one replica, on loopback ports BASE to BASE+5, nothing saved. A short node
# time-out, so that a replica takes over a stopped master within seconds.
#   redis_cluster.sh start DIR BASE
#   redis_cluster.sh stop DIR BASE
set -eu
what=$1
dir=$2
base=$3
ports="$base $((base + 1)) $((base + 2)) $((base + 3)) $((base + 4)) $((base + 5))"
stop_all() {
  for port in $ports; do
    redis-cli -p "$port" shutdown nosave >/dev/null 2>&1 || true
  done
  for port in $ports; do
    if [ -f "$dir/$port/redis.pid" ]; then
      pid=$(cat "$dir/$port/redis.pid")
      tries=0
      while kill -0 "$pid" 2>/dev/null && [ $tries -lt 100 ]; do tries=$((tries + 1)); sleep 0.05; done
      kill -9 "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$dir"
}
# Every node says the cluster is ok, every slot is served, and every replica
# is in step with its master.
healthy() {
  for port in $ports; do
    redis-cli -p "$port" cluster info | grep -q 'cluster_state:ok' || return 1
    if redis-cli -p "$port" info replication | grep -q 'role:slave'; then
      redis-cli -p "$port" info replication | grep -q 'master_link_status:up' || return 1
    fi
  done
  redis-cli --cluster check "127.0.0.1:$base" > "$dir/check.log" 2>&1
}
case $what in
  start)
    stop_all
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    for port in $ports; do
      mkdir -p "$dir/$port"
      redis-server --port "$port" --bind 127.0.0.1 --cluster-enabled yes --cluster-config-file nodes.conf \
        --cluster-node-timeout 1000 --cluster-replica-validity-factor 0 --save '' --appendonly no \
        --daemonize yes --dir "$dir/$port" --pidfile "$dir/$port/redis.pid" --logfile "$dir/$port/redis.log"
    done
    for port in $ports; do
      tries=0
      until redis-cli -p "$port" ping 2>/dev/null | grep -q PONG; do
        tries=$((tries + 1))
        [ $tries -lt 100 ] || { echo "redis-server on port $port did not answer" >&2; exit 1; }
        sleep 0.05
      done
    done
    nodes=""
    for port in $ports; do nodes="$nodes 127.0.0.1:$port"; done
    # shellcheck disable=SC2086
    redis-cli --cluster create $nodes --cluster-replicas 1 --cluster-yes > "$dir/create.log" 2>&1 \
      || { cat "$dir/create.log" >&2; exit 1; }
    # Healthy: every node says so, and the check finds every slot served.
    tries=0
    until healthy; do
      tries=$((tries + 1))
      [ $tries -lt 200 ] || { echo "the cluster did not become healthy" >&2; cat "$dir/check.log" >&2; exit 1; }
      sleep 0.1
    done
    echo "cluster answering on 127.0.0.1:$base-$((base + 5))" ;;
  stop)
    stop_all ;;
  *) echo "usage: redis_cluster.sh start|stop DIR BASE" >&2; exit 2 ;;
esac
