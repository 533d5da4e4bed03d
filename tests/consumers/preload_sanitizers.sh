#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The README's recipes for preloading the mock into test programs built with
# a sanitizer, each tried for real: a program built with -fsanitize=... against
# the stand-in SDK library must run against the mock when preloaded.
# Usage: preload_sanitizers.sh MOCK_LIBRARY STUB_LIBRARY_DIR WORK_DIR
set -euo pipefail
mock=$1
stub_dir=$2
work=$3
here="$(cd "$(dirname "$0")/../.." && pwd)"
cc=${CC:-cc}

build() {  # build NAME FLAGS...: the drop-in program with a sanitizer
  local name=$1
  shift
  "$cc" "$@" -g -I"$here/include" "$here/tests/dropin/program.c" -L"$stub_dir" -lvelkmock_stub \
    -Wl,-rpath,"$stub_dir" -o "$work/$name"
}

expect_mock() {  # expect_mock LABEL COMMAND...: the output names the mock's version
  local label=$1
  shift
  local out
  out=$("$@" 2>&1) || { echo "$label: failed"; echo "$out"; exit 1; }
  grep -q '0.0.0-mock' <<< "$out" || { echo "$label: the mock was not used"; echo "$out"; exit 1; }
  echo "$label: ok"
}

build asan -fsanitize=address
build ubsan -fsanitize=undefined
build tsan -fsanitize=thread

# The sanitizer runtime first in LD_PRELOAD, then the mock.
asan_rt=$("$cc" -print-file-name=libasan.so)
ubsan_rt=$("$cc" -print-file-name=libubsan.so)
tsan_rt=$("$cc" -print-file-name=libtsan.so)
expect_mock "ASan, runtime first" env LD_PRELOAD="$asan_rt $mock" "$work/asan"
expect_mock "UBSan, runtime first" env LD_PRELOAD="$ubsan_rt $mock" "$work/ubsan"
expect_mock "TSan, runtime first" env LD_PRELOAD="$tsan_rt $mock" "$work/tsan"
# ASan's own option instead: it lets the runtime come later in the list.
expect_mock "ASan, verify_asan_link_order=0" env ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD="$mock" \
  "$work/asan"
