#!/usr/bin/env bash
# A fuzzing campaign over every libFuzzer target under fuzz/.
#
#   fuzz/campaign.sh SECONDS [JOBS [TARGET...]]
#
# Builds every target with clang -O1 -g, AddressSanitizer and UndefinedBehaviorSanitizer in a
# build folder of its own (build-fuzz beside fuzz/, or $NIMBREL_FUZZ_BUILD), then runs each for
# SECONDS, at most JOBS (default 2) side by side, and prints per target the executions, the
# corpus size and the crashes. Named TARGETs run alone, in the order given; by default every
# target runs, in the order of the fuzz/ folders. The corpus grows across campaigns in build-fuzz/campaign/NAME/corpus;
# every crash, leak, timeout or out-of-memory input is kept in build-fuzz/campaign/NAME/crashes.
# Exit status: 0 when no target found anything, 1 when one did, 2 on a usage or build failure.
set -u

usage() {
    echo "usage: $0 SECONDS [JOBS [TARGET...]]" >&2
    exit 2
}
[[ $# -ge 1 && $1 =~ ^[0-9]+$ && $1 -gt 0 ]] || usage
seconds=$1
jobs=${2:-2}
[[ $jobs =~ ^[1-9][0-9]*$ ]] || usage
shift $(($# >= 2 ? 2 : 1))
wanted=("$@")

root=$(cd "$(dirname "$0")/.." && pwd)
build=${NIMBREL_FUZZ_BUILD:-$root/build-fuzz}
work=$build/campaign

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
else
    launcher=()
fi

# Every library is built with libFuzzer's coverage too, not only the targets' own sources: a
# target that links the archive or resource editor library must see where its input leads.
coverage=-fsanitize=fuzzer-no-link

echo "== configuring $build"
mkdir -p "$build"
if ! CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g $coverage" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -D_GLIBCXX_ASSERTIONS $coverage" \
    -DNIMBREL_FUZZ=ON -DNIMBREL_SANITIZE=ON -DNIMBREL_GUI=OFF -DNIMBREL_PLAYERS=OFF \
    -DNIMBREL_BENCH=OFF -DNIMBREL_TESTS=ON >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    echo "configuring failed" >&2
    exit 2
fi
echo "== building the fuzz targets"
if ! cmake --build "$build" -j "$jobs" --target nimbrel_fuzz_targets; then
    echo "building failed" >&2
    exit 2
fi

manifest=$build/fuzz/fuzz_targets.txt
[[ -s $manifest ]] || { echo "no fuzz targets listed in $manifest" >&2; exit 2; }

# Runs one target for the campaign's time; its output goes to work/NAME/fuzz.log.
run_target() {
    local name=$1 binary=$2 seeds=$3
    local dir=$work/$name
    mkdir -p "$dir/corpus" "$dir/crashes"
    local seedDirs=()
    local IFS=';'
    for s in $seeds; do
        [[ -d $s ]] && seedDirs+=("$s")
    done
    unset IFS
    echo "-- $name: started $(date -u +%H:%M:%S)"
    (cd "$dir" && "$binary" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$dir/crashes/" "$dir/corpus" "${seedDirs[@]}" \
        >"$dir/fuzz.log" 2>&1)
    echo "-- $name: ended $(date -u +%H:%M:%S) with status $?"
}

# The targets to run, in order: those named on the command line, or every one listed.
declare -A binaryOf seedsOf
listed=()
while IFS='|' read -r name binary seeds; do
    [[ -n $name ]] || continue
    listed+=("$name")
    binaryOf[$name]=$binary
    seedsOf[$name]=$seeds
done <"$manifest"
if [[ ${#wanted[@]} -eq 0 ]]; then
    names=("${listed[@]}")
else
    names=()
    for name in "${wanted[@]}"; do
        [[ -n ${binaryOf[$name]:-} ]] || { echo "no fuzz target $name (known: ${listed[*]})" >&2; exit 2; }
        names+=("$name")
    done
fi
for name in "${names[@]}"; do
    while [[ $(jobs -rp | wc -l) -ge $jobs ]]; do wait -n; done
    run_target "$name" "${binaryOf[$name]}" "${seedsOf[$name]}" &
done
wait

found=0
echo
printf '%-22s %14s %10s %8s %8s\n' target executions exec/s corpus crashes
for name in "${names[@]}"; do
    dir=$work/$name
    log=$dir/fuzz.log
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [[ -z $execs ]]; then  # a run cut short by a crash prints no final stats
        execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
    fi
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    corpus=$(find "$dir/corpus" -type f | wc -l)
    crashes=$(find "$dir/crashes" -type f | wc -l)
    printf '%-22s %14s %10s %8s %8s\n' "$name" "${execs:-?}" "${rate:-?}" "$corpus" "$crashes"
    if [[ $crashes -gt 0 ]]; then
        found=1
        find "$dir/crashes" -type f | sed 's/^/    /'
    fi
done
exit $found
