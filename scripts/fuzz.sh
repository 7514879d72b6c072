#!/bin/bash
# Longer fuzzing than the test command's few seconds: scripts/fuzz.sh [seconds] [target...]
# Each target (default: all of tests/fuzz) runs for the given seconds (default 300), as many
# at once as there are cores. Its corpus grows in build/fuzz/corpus-long/NAME from one run to
# the next, starting from the seeds in tests/fuzz/corpus/NAME (never written). Extra libFuzzer
# flags may come in FUZZ_FLAGS, e.g. FUZZ_FLAGS=-use_value_profile=1.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

seconds=300
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds="$1"; shift; fi
targets=("$@")
if [ "${#targets[@]}" = 0 ]; then
    for source in "$ROOT"/tests/fuzz/*_fuzz.cpp; do
        name="$(basename "$source" .cpp)"
        targets+=("${name%_fuzz}")
    done
fi

configure_fuzz || exit 1
cmake --build "$FUZZ_BUILD" -j"$JOBS" >/dev/null || exit 1

LONG="$FUZZ_BUILD/corpus-long"
RUNS="$FUZZ_BUILD/long-runs"
for name in "${targets[@]}"; do
    if [ ! -x "$FUZZ_BUILD/${name}_fuzz" ]; then echo "fuzz: no target $name" >&2; exit 2; fi
done

echo "fuzz: ${targets[*]} for ${seconds}s each, $JOBS at a time; logs in $RUNS"
for name in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n; done
    mkdir -p "$LONG/$name" "$RUNS/$name/artifacts"
    rm -f "$RUNS/$name/rc"
    (
        # shellcheck disable=SC2086
        "$FUZZ_BUILD/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$RUNS/$name/artifacts/" ${FUZZ_FLAGS:-} \
            "$LONG/$name" "$ROOT/tests/fuzz/corpus/$name" >"$RUNS/$name/log" 2>&1
        echo $? >"$RUNS/$name/rc"
    ) &
done
wait

status=0
for name in "${targets[@]}"; do
    log="$RUNS/$name/log"
    rc="$(cat "$RUNS/$name/rc" 2>/dev/null || echo '?')"
    last="$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n1)"
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
    cov="$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([0-9]*\)\/\([0-9a-zA-Z]*\).*/\1 edges, \2 features, corpus \3 inputs (\4)/p' <<<"$last")"
    files="$(find "$LONG/$name" -type f | wc -l)"
    echo "fuzz: $name: exit $rc, ${execs:-?} runs, ${rate:-?} exec/s, ${cov:-no coverage line}; $files files kept"
    if [ "$rc" != 0 ]; then
        status=1
        for found in "$RUNS/$name"/artifacts/*; do
            [ -f "$found" ] || continue
            echo "fuzz:   reproducer $found"
            echo "fuzz:   replay it: $FUZZ_BUILD/${name}_fuzz $found"
            echo "fuzz:   after the fix, keep it as a regression (replayed by ctest in build/fuzz):"
            echo "fuzz:     cp $found $ROOT/tests/fuzz/regressions/$name/<what-it-shows>"
        done
        echo "fuzz:   log: $log"
    fi
done
exit $status
