#!/bin/bash
# Runs one test program with its memory and its output bounded, so that a test
# that runs away fails on its own instead of starving the machine or the
# test driver that collects its output.
#   run-bounded.sh DATA_BYTES OUTPUT_BYTES program [arguments...]
# DATA_BYTES bounds each process's writable memory (0: no bound); the output
# past OUTPUT_BYTES is cut, and the program ends at its next write.
set -o pipefail
data="$1"
output="$2"
shift 2
if [ "$data" != 0 ]; then
    set -- prlimit --data="$data" -- "$@"
fi
"$@" 2>&1 | head -c "$output"
