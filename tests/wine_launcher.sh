#!/bin/sh
# Runs a test executable for CTest under the Wine loader given first. A test process that ends
# badly is reported here with its status and how long it lived, so that a start Wine itself did
# not complete (no output at all) reads as what it is rather than as a silent failure.
#
# The test's output goes through files, its standard output followed as it grows: a Wine process
# that the test starts and that outlives it (the desktop process, started anew by the first
# window after a few idle seconds) would otherwise hold CTest's pipes open, and CTest would wait
# about a second for it after every test.
loader=$1
shift
output=$(mktemp)
errors=$(mktemp)
started=$(date +%s%N)
"$loader" "$@" >"$output" 2>"$errors" &
test_pid=$!
tail -n +1 -s 0.01 -f --pid="$test_pid" "$output"
wait "$test_pid"
status=$?
cat "$errors" >&2
rm -f "$output" "$errors"
if [ "$status" -ne 0 ]; then
    lived=$((($(date +%s%N) - started) / 1000000))
    echo "wine_launcher: $loader $1 ended with status $status after $lived ms" >&2
    if [ "$lived" -lt 150 ]; then
        echo "wine_launcher: too soon for the test to have run: Wine did not start it" >&2
    fi
fi
exit "$status"
