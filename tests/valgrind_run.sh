#!/usr/bin/env bash
# Runs the host program under valgrind on a copy of a fixture: no memory
# error, no leak, exit status 33, and the store left as the .after.reg says.
# Usage: valgrind_run.sh TOLVANIK FIXTURE_BASE WORK_DIR
set -u
tolvanik=$1 fixture=$2 work=$3
if ! command -v valgrind >/dev/null; then
  if [ -n "${CI:-}" ]; then echo "FAIL: valgrind is not installed"; exit 1; fi
  echo "SKIPPED: valgrind is not installed"; exit 77
fi
mkdir -p "$work"
cp "$fixture.reg" "$work/store.reg"
EMULATED_REGISTRY="$work/store.reg" valgrind --quiet --error-exitcode=99 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
  "$tolvanik" >"$work/out.txt"
status=$?
if [ "$status" != 33 ]; then echo "FAIL: exit status $status (99: valgrind found errors)"; exit 1; fi
if ! cmp -s "$work/store.reg" "$fixture.after.reg"; then echo "FAIL: store differs"; exit 1; fi
echo "ok: no memory error, no leak, status 33, store as expected"
