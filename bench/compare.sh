#!/usr/bin/env bash
# Throughput and accuracy of our caller-ID detectors next to independent peers, measured
# in one run and on the same recordings: one hour at 8000 Hz of white Gaussian noise with
# a caller-ID burst every 30 s (120 bursts of distinct content, SNR_DB dB, see
# docs/benchmarks.md), once in the US format and once in the NTT format.
#
# For every program: the wall time of a whole run (the fastest of RUNS runs, the programs
# taking turns), samples per second, bursts decoded with every field right, messages that
# match no burst, and our detector's speed divided by the program's speed (time ratio on
# the same hour of audio).
#
# Usage: bench/compare.sh [BUILD_DIR]        (default: build; programs in BUILD_DIR/bin)
# Environment: RUNS (default 5), SNR_DB (default 20).
# Prints the tables and, when docs/benchmarks.md holds the markers, puts them between.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$REPO/build}
BIN=$BUILD/bin
RUNS=${RUNS:-5}
SNR_DB=${SNR_DB:-20}
HOUR=${HOUR:-3600} # seconds of audio; change only for a quick trial
EVERY=30
BURSTS=$((HOUR / EVERY))
AMPLITUDE=30 # percent of full scale: tone peak 30 x 327.68
WORK=$(mktemp -d "${TMPDIR:-/tmp}/compare.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# shellcheck source=tools/bench_lib.sh
source "$REPO/bench/tools/bench_lib.sh"

[[ -x $BIN/cidforge ]] || { echo "compare.sh: $BIN/cidforge is not built" >&2; exit 1; }
command -v sox >/dev/null || { echo "compare.sh: sox is needed to resample for multimon-ng" >&2; exit 1; }

have() { [[ -x $1 ]] || command -v "$1" >/dev/null 2>&1; }

# Runners: run_X INPUT OUTPUT (the 22050 Hz raw file for multimon-ng, which works at
# that rate only; the others read the 8000 Hz WAV file).
run_cidprobe() { "$BIN/cidprobe" "$1" "$2" 2>/dev/null; }
run_cidprobe_ntt() { "$BIN/cidprobe-ntt" "$1" "$2" 2>/dev/null; }
# cidscan runs every standard (both tone plans and DTMF caller ID) over every sample, as it
# does by default.
run_cidscan() { "$BIN/cidscan" --json "$1" >"$2" 2>/dev/null; }
# The same with every message measured (tones, levels, bit rate, lengths).
run_cidscan_measure() { "$BIN/cidscan" --json --measure "$1" >"$2" 2>/dev/null; }
run_spandsp_us() { "$BIN/cidpeer" bench-us "$1" >"$2" 2>>"$2.rate"; }
run_spandsp_jp() { "$BIN/cidpeer" bench-jp "$1" >"$2" 2>>"$2.rate"; }
run_minimodem_us() { minimodem --rx callerid --quiet --file "$1" >"$2" 2>/dev/null; }
run_minimodem_ntt() {
    minimodem --rx 1200 --mark 1300 --space 2100 --stopbits 5 --quiet --file "$1" >"$2" 2>/dev/null
}
run_multimon_us() { multimon-ng -q -c -a AFSK1200 -t raw "$1" >"$2" 2>/dev/null; }
run_multimon_ntt() { multimon-ng -q -c -a CLIPFSK -t raw "$1" >"$2" 2>/dev/null; }

# Rows of a table: id|program shown|what runs|runner|needs|input (wav or raw22)|scoring
# shellcheck disable=SC2034  # read through a name reference in measure
rows_us=(
    "cidprobe|cidprobe|our US detector|run_cidprobe|$BIN/cidprobe|wav|report"
    "cidscan|cidscan|every standard at once: both tone plans and DTMF caller ID, JSON Lines (--json)|run_cidscan|$BIN/cidscan|wav|cidscan"
    "cidscan_measure|cidscan --measure|the same, every message measured, the measuring on a second thread (--json --measure)|run_cidscan_measure|$BIN/cidscan|wav|cidscan"
    "spandsp|spandsp $(dpkg-query -W -f '${Version}' libspandsp2 2>/dev/null || echo '?')|ADSI receiver, CLASS standard (tests/interop/cidpeer)|run_spandsp_us|$BIN/cidpeer|wav|spandsp"
    "minimodem|minimodem $(dpkg-query -W -f '${Version}' minimodem 2>/dev/null || echo '?')|--rx callerid|run_minimodem_us|minimodem|wav|minimodem"
    "multimon|multimon-ng $(dpkg-query -W -f '${Version}' multimon-ng 2>/dev/null || echo '?')|AFSK1200 demodulator (Bell 202 tones; demodulation only)|run_multimon_us|multimon-ng|raw22|none"
)
# shellcheck disable=SC2034  # read through a name reference in measure
rows_ntt=(
    "cidprobe|cidprobe-ntt|our NTT detector|run_cidprobe_ntt|$BIN/cidprobe-ntt|wav|report"
    "cidscan|cidscan|every standard at once: both tone plans and DTMF caller ID, JSON Lines (--json)|run_cidscan|$BIN/cidscan|wav|cidscan"
    "cidscan_measure|cidscan --measure|the same, every message measured, the measuring on a second thread (--json --measure)|run_cidscan_measure|$BIN/cidscan|wav|cidscan"
    "spandsp|spandsp $(dpkg-query -W -f '${Version}' libspandsp2 2>/dev/null || echo '?')|ADSI receiver, JCLIP standard (tests/interop/cidpeer)|run_spandsp_jp|$BIN/cidpeer|wav|spandsp"
    "minimodem|minimodem $(dpkg-query -W -f '${Version}' minimodem 2>/dev/null || echo '?')|--rx 1200 --mark 1300 --space 2100 --stopbits 5 (raw bytes)|run_minimodem_ntt|minimodem|wav|frames"
    "multimon|multimon-ng $(dpkg-query -W -f '${Version}' multimon-ng 2>/dev/null || echo '?')|CLIPFSK demodulator (V.23 tones; demodulation only)|run_multimon_ntt|multimon-ng|raw22|none"
)

# span: the recording's length in words.
span() {
    if ((HOUR == 3600)); then echo "one hour"; else echo "$HOUR s"; fi
}

# measure FORMAT: builds the recording of FORMAT, times every row, writes the table.
measure() {
    local format=$1
    local -n rows=rows_$format
    local dir=$WORK/$format
    echo "compare.sh: building the $format recording ($BURSTS bursts)" >&2
    make_bursts "$format" "$BURSTS" "$AMPLITUDE" "$dir"
    local rms
    rms=$(awk -v a="$AMPLITUDE" -v snr="$SNR_DB" 'BEGIN { A = a * 327.68; printf "%.3f", A / sqrt(2 * 10 ^ (snr / 10)) }')
    local files=() k
    for ((k = 0; k < BURSTS; k++)); do files+=("$dir/burst_$k.wav"); done
    "$WORK/wavmix" "$dir/hour.wav" "$HOUR" "$rms" 20240601 10 "$EVERY" "${files[@]}" >&2
    sox "$dir/hour.wav" -r 22050 -t raw -e signed -b 16 "$dir/hour22.raw"

    local -A best=() cpus=()
    local r row id runner needs input
    for ((r = 1; r <= RUNS; r++)); do
        for row in "${rows[@]}"; do
            IFS='|' read -r id _ _ runner needs input _ <<<"$row"
            have "$needs" || continue
            local in=$dir/hour.wav
            if [[ $input == raw22 ]]; then in=$dir/hour22.raw; fi
            local t0 t1 cpu
            t0=$(date +%s%N)
            # Processor time too (user and system, every thread): cidscan
            # --measure runs its measurement on a second thread.
            cpu=$({ TIMEFORMAT='%3U %3S'; time "$runner" "$in" "$dir/out_$id.txt"; } 2>&1 | awk '{ print $1 + $2 }')
            t1=$(date +%s%N)
            local dt=$((t1 - t0))
            if [[ -z ${best[$id]:-} ]] || ((dt < best[$id])); then
                best[$id]=$dt
                cpus[$id]=$cpu
            fi
        done
    done

    local ours=${best[cidprobe]:-}
    local title
    if [[ $format == us ]]; then
        title="US format (Bell 202, SDMF): $(span) at 8000 Hz, $BURSTS bursts"
    else
        title="NTT format (V.23, DLE frame with CRC): $(span) at 8000 Hz, $BURSTS bursts with number and name"
    fi
    {
        printf '\n#### %s\n\n' "$title"
        printf '| program | what runs | wall time (s) | processor time (s) | samples/s | x real time | bursts right | false messages | our speed / its speed |\n'
        printf '|---|---|---:|---:|---:|---:|---:|---:|---:|\n'
        local shown what scoring
        for row in "${rows[@]}"; do
            IFS='|' read -r id shown what runner needs input scoring <<<"$row"
            if [[ -z ${best[$id]:-} ]]; then
                printf '| %s | %s | not available | | | | | | |\n' "$shown" "$what"
                continue
            fi
            local samples=$((HOUR * 8000))
            if [[ $input == raw22 ]]; then samples=$((HOUR * 22050)); fi
            local out=$dir/out_$id.txt right=- false=-
            case $scoring in
            report)
                local code=""
                if [[ $format == ntt ]]; then code=SHIFT_JIS; fi
                report_keys "$out" "$code" >"$out.keys"
                read -r right false < <(score "$out.keys" "$dir/cidprobe.keys")
                ;;
            spandsp)
                spandsp_keys "$out" >"$out.keys"
                read -r right false < <(score "$out.keys" "$dir/spandsp.keys")
                ;;
            minimodem)
                minimodem_keys "$out" >"$out.keys"
                read -r right false < <(score "$out.keys" "$dir/minimodem.keys")
                ;;
            frames)
                read -r right false < <(score_frames "$out" "$dir/frames.hex")
                ;;
            cidscan)
                # A message is right when it is valid and its bytes are the burst's.
                if command -v jq >/dev/null; then
                    jq -r 'select(.valid) | .raw' "$out" >"$out.keys"
                    read -r right false < <(score "$out.keys" "$dir/frames.hex")
                fi
                ;;
            esac
            if [[ $right != - ]]; then right="$right / $BURSTS"; fi
            local ratio=-
            if [[ -n $ours ]]; then ratio=$(awk -v o="$ours" -v p="${best[$id]}" 'BEGIN { printf "%.2f", p / o }'); fi
            awk -v shown="$shown" -v what="$what" -v ns="${best[$id]}" -v n="$samples" -v hour="$HOUR" \
                -v right="$right" -v false_="$false" -v ratio="$ratio" -v cpu="${cpus[$id]}" 'BEGIN {
                    s = ns / 1e9
                    printf "| %s | %s | %.2f | %.2f | %.1f M | %.0f | %s | %s | %s |\n", shown, what, s, cpu, n / s / 1e6, hour / s, right, false_, ratio
                }'
        done
        if [[ -n ${best[spandsp]:-} && -n ${best[cidscan]:-} && -n ${best[cidscan_measure]:-} ]]; then
            awk -v p="${best[spandsp]}" -v s="${best[cidscan]}" -v m="${best[cidscan_measure]}" 'BEGIN {
                printf "\ncidscan against spandsp'"'"'s receiver, wall time for wall time: %.2f times its speed, %.2f with --measure.\n", p / s, p / m }'
        fi
        if [[ -s $dir/out_spandsp.txt.rate ]]; then
            awk '{ for (i = 1; i < NF; i++) if ($i == "rate" && $(i + 1) > best) best = $(i + 1) }
                 END { printf "\nspandsp'"'"'s receiver alone, with the file already in memory: %.1f M samples/s (best run).\n", best / 1e6 }' \
                "$dir/out_spandsp.txt.rate"
        fi
    } >>"$WORK/table.md"
}

build_wavmix
LOAD_BEFORE=$(cut -d ' ' -f 1 /proc/loadavg)
: >"$WORK/table.md"
measure us
measure ntt

{
    printf '<!-- begin compare.sh -->\n'
    # shellcheck disable=SC2016  # the backquotes are Markdown
    printf 'Made by `bench/compare.sh` on %s: %s CPUs (`nproc`), %s; load average %s before the run; commit %s; RUNS=%s, SNR %s dB.\n' \
        "$(date -u +%Y-%m-%d)" "$(nproc)" \
        "$(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -n 1)" "$LOAD_BEFORE" \
        "$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)" "$RUNS" "$SNR_DB"
    cat "$WORK/table.md"
    printf '<!-- end compare.sh -->\n'
} >"$WORK/section.md"
cat "$WORK/section.md"

doc=$REPO/docs/benchmarks.md
if [[ -f $doc ]] && grep -q '^<!-- begin compare.sh -->$' "$doc"; then
    awk -v section="$WORK/section.md" '
        /^<!-- begin compare.sh -->$/ { while ((getline line < section) > 0) print line; skip = 1; next }
        /^<!-- end compare.sh -->$/ { skip = 0; next }
        !skip { print }' "$doc" >"$WORK/doc.md"
    cp "$WORK/doc.md" "$doc"
    echo "compare.sh: updated $doc" >&2
fi
