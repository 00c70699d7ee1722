#!/usr/bin/env bash
# fuzz.sh <build-dir> [seconds]: runs every host fuzz target for `seconds` (default 180)
# at low priority, then the extraction's mutation test under Wine with TS_MUTATION_CASES
# damaged archives (default 10000). New inputs go to <build-dir>/fuzz/corpus/<target>;
# with FUZZ_MERGE=1 those that add coverage join the repository's corpus
# (tests/fuzz/corpus/<target>). A failing input lands in <build-dir>/fuzz/findings/<target>.
set -u
build=$1 seconds=${2:-180}
here=$(cd "$(dirname "$0")/.." && pwd)
fuzz=$build/fuzz
status=0
summary=()
for program in "$fuzz"/fuzz_*; do
    name=${program##*/fuzz_}
    work=$fuzz/corpus/$name findings=$fuzz/findings/$name
    mkdir -p "$work" "$findings"
    echo "fuzz: $name for $seconds s"
    nice -n 10 "$program" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" \
        "$work" "$here/tests/fuzz/corpus/$name" >"$fuzz/$name.log" 2>&1
    result=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$fuzz/$name.log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$fuzz/$name.log")
    cover=$(grep -o 'cov: [0-9]*' "$fuzz/$name.log" | tail -1)
    if [ $result != 0 ]; then
        status=1
        grep -E 'ERROR:|runtime error:|broken:|Assert failure|Test unit written' "$fuzz/$name.log" | head -5
        summary+=("$name: FAILED after ${runs:-?} runs, see $fuzz/$name.log and $findings")
        continue
    fi
    summary+=("$name: ${runs} runs in ${seconds} s, ${speed} exec/s, ${cover}")
    if [ "${FUZZ_MERGE:-0}" = 1 ]; then
        "$program" -merge=1 "$here/tests/fuzz/corpus/$name" "$work" >"$fuzz/$name.merge.log" 2>&1 ||
            { status=1; summary+=("$name: merge failed, see $fuzz/$name.merge.log"); }
    fi
done

cases=${TS_MUTATION_CASES:-10000}
echo "fuzz: extraction of $cases damaged archives under Wine"
started=$(date +%s)
TS_MUTATION_CASES=$cases TS_BUILD=$build TS_SOURCE=$here nice -n 10 "$here/tools/wine-run.sh" "$build/wine/win32" \
    "$build/bin/ts_system.exe" --gtest_filter='ExtractMutation.*' --gtest_color=no >"$fuzz/mutation.log" 2>&1
result=$?
line=$(grep 'damaged archives, results' "$fuzz/mutation.log")
if [ $result != 0 ]; then
    status=1
    tail -n 20 "$fuzz/mutation.log"
    summary+=("extraction: FAILED, see $fuzz/mutation.log and $build/testdata/mutation-failures")
else
    summary+=("extraction: ${line:-?} in $(($(date +%s) - started)) s")
fi

printf '%s\n' "${summary[@]}"
exit $status
