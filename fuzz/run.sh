#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target, two at a time.
#
#   fuzz/run.sh [SECONDS]      each target for SECONDS (default 600); the
#                              corpus grows in build/fuzz/corpus/<target>
#   fuzz/run.sh --smoke [N]    replays the seed corpora and runs each target
#                              for N seconds (default 20) on a throw-away copy
#
# Target names after the time (wave_reader, scan_us, ...) run only those.
#
# Inputs that crash, hang, leak or break a checked property land in
# build/fuzz/findings/<target>/. Prints executions and findings per target;
# exits with status 1 when anything was found or a target failed to run.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
seeds="$root/fuzz/corpus"

smoke=0
seconds=600
if [[ ${1:-} == --smoke ]]; then
    smoke=1
    seconds=20
    shift
fi
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
if ((seconds == 0)); then
    echo "usage: fuzz/run.sh [--smoke] [SECONDS] [TARGET...]" >&2
    exit 2
fi
all_targets=(wave_reader scan_us scan_ntt sdmf_decoder ntt_decoder settings cidforge_data padtoner_data
    message_decoders cidscan_input)
wanted=("$@")
((${#wanted[@]} > 0)) || wanted=("${all_targets[@]}")

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzzers

targets=()
for t in "${wanted[@]}"; do
    if [[ -x "$build/bin/fuzz-$t" ]]; then
        targets+=("$t")
    elif [[ " ${all_targets[*]} " == *" $t "* ]]; then
        echo "not built: fuzz-$t (skipped)"
    else
        echo "no such target: $t" >&2
        exit 2
    fi
done

# Longest input per target: the detector runs are kept short; the WAV reader
# gets files beyond its 64 KiB read block.
max_len() {
    case $1 in
    scan_us | scan_ntt | cidscan_input) echo 40000 ;;
    wave_reader) echo 140000 ;;
    *) echo 4096 ;;
    esac
}

stamp="$(date +%Y%m%d-%H%M%S)"
logs="$build/logs/$stamp"
findings="$build/findings"
mkdir -p "$logs" "$findings"
touch "$logs/.start"
scratch="$(mktemp -d "$build/scratch.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
# The targets write their files under TMPDIR.
export TMPDIR="$scratch"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

run_target() {
    local t=$1 corpus
    if ((smoke)); then
        corpus="$scratch/corpus-$t"
    else
        corpus="$build/corpus/$t"
    fi
    mkdir -p "$corpus" "$findings/$t"
    # New inputs go to the first folder; the seeds are only read.
    "$build/bin/fuzz-$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=25 \
        -rss_limit_mb=2048 -close_fd_mask=1 -print_final_stats=1 \
        -artifact_prefix="$findings/$t/" "$corpus" "$seeds/$t" >"$logs/$t.log" 2>&1
}

echo "fuzzing ${#targets[@]} targets for ${seconds}s each, two at a time; logs in $logs"
pids=()
names=()
for t in "${targets[@]}"; do
    while (($(jobs -rp | wc -l) >= 2)); do wait -n || true; done
    run_target "$t" &
    pids+=($!)
    names+=("$t")
done
status=()
for i in "${!pids[@]}"; do
    if wait "${pids[$i]}"; then status[i]=0; else status[i]=$?; fi
done

failed=0
printf '\n%-14s %12s %9s %8s %s\n' target executions exec/s corpus findings
for i in "${!names[@]}"; do
    t=${names[$i]}
    log="$logs/$t.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    units=$(sed -n 's/.*corp: \([0-9]*\)\/.*/\1/p' "$log" | tail -1)
    found=$(find "$findings/$t" -type f -newer "$logs/.start" 2>/dev/null | wc -l)
    note="none"
    if ((found > 0)); then
        note="$found in $findings/$t"
        failed=1
    elif ((status[i] != 0)); then
        note="target exited with ${status[i]}, see $log"
        failed=1
    fi
    printf '%-14s %12s %9s %8s %s\n' "$t" "${execs:-?}" "${rate:-?}" "${units:-?}" "$note"
done
if ((failed)); then
    echo "fuzzing found problems"
    exit 1
fi
echo "fuzzing found nothing"
