#!/bin/bash
# CTest's way of running a fuzz target.
#   run_fuzz.sh run TARGET SEEDS WORK SECONDS   fuzz for SECONDS over a fresh copy of SEEDS made
#                                                in WORK (the repository's corpus is never written)
#   run_fuzz.sh replay TARGET FOLDER            run every file of FOLDER once (none: passes)
set -uo pipefail

mode="$1"
target="$2"
name="$(basename "$target")"
name="${name%_fuzz}"

case "$mode" in
run)
    seeds="$3" work="$4" seconds="$5"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    if [ -d "$seeds" ]; then cp -R "$seeds/." "$work/corpus/"; fi
    # Absolute artifact prefix: some targets change the working directory while they run.
    "$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus"
    rc=$?
    if [ "$rc" != 0 ]; then
        for found in "$work"/artifacts/*; do
            [ -f "$found" ] || continue
            echo "fuzz: $name failed on $found"
            echo "fuzz: replay it with: $target $found"
            echo "fuzz: once understood, keep it: cp $found tests/fuzz/regressions/$name/"
        done
    fi
    exit "$rc"
    ;;
replay)
    folder="$3"
    inputs=()
    if [ -d "$folder" ]; then
        while IFS= read -r -d '' file; do inputs+=("$file"); done \
            < <(find "$folder" -type f ! -name '.*' -print0 | sort -z)
    fi
    if [ "${#inputs[@]}" = 0 ]; then
        echo "fuzz: no regression inputs for $name"
        exit 0
    fi
    # File arguments make libFuzzer run each input once instead of fuzzing.
    exec "$target" -timeout=5 -rss_limit_mb=2048 "${inputs[@]}"
    ;;
*)
    echo "usage: $0 run TARGET SEEDS WORK SECONDS | replay TARGET FOLDER" >&2
    exit 2
    ;;
esac
