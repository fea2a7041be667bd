#!/bin/sh
# Runs a test executable for CTest under the Wine loader given first. A test process that ends
# badly is reported here with its status and how long it lived, so that a start Wine itself did
# not complete (no output at all) reads as what it is rather than as a silent failure.
loader=$1
shift
started=$(date +%s%N)
"$loader" "$@"
status=$?
if [ "$status" -ne 0 ]; then
    lived=$((($(date +%s%N) - started) / 1000000))
    echo "wine_launcher: $loader $1 ended with status $status after $lived ms" >&2
    if [ "$lived" -lt 150 ]; then
        echo "wine_launcher: too soon for the test to have run: Wine did not start it" >&2
    fi
fi
exit "$status"
