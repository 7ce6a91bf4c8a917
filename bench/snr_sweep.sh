#!/usr/bin/env bash
# Noise tolerance of our caller-ID detectors and of cidscan next to independent peers: for
# every SNR step, BURSTS bursts of known content in white Gaussian noise, and for every
# receiver the fraction of bursts decoded with every byte right, and the receiver's 90%
# point (the lowest SNR from which on at least 90% of bursts are right, interpolated
# linearly between steps). The receivers are not tuned here; the sweep shows where their
# fixed algorithms stand.
#
# SNR is the tone's power over the noise's power in the whole band 0..fs/2 (fs = 8000 Hz):
# for a tone of peak amplitude A and noise of standard deviation s (both on the 16-bit
# scale), SNR = 10 log10((A^2 / 2) / s^2).
#
# Usage: bench/snr_sweep.sh [BUILD_DIR]        (default: build; programs in BUILD_DIR/bin)
# Environment: BURSTS (default 100), SNR_FROM, SNR_TO, SNR_STEP (default 0, 18, 1 dB),
# DOCS (default docs/ of the checkout).
# Writes docs/snr_us.dat, docs/snr_ntt.dat, docs/snr_us.png, docs/snr_ntt.png and, when
# docs/benchmarks.md holds the markers, the table between them.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$REPO/build}
BIN=$BUILD/bin
BURSTS=${BURSTS:-100}
SNR_FROM=${SNR_FROM:-0}
SNR_TO=${SNR_TO:-18}
SNR_STEP=${SNR_STEP:-1}
AMPLITUDE=20 # percent of full scale: tone peak A = 20 x 327.68 = 6553.6
SPACING=1    # seconds from one burst's start to the next
DOCS=${DOCS:-$REPO/docs} # another folder for a trial run that leaves docs/ alone
WORK=$(mktemp -d "${TMPDIR:-/tmp}/snr_sweep.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# shellcheck source=tools/bench_lib.sh
source "$REPO/bench/tools/bench_lib.sh"

[[ -x $BIN/cidforge ]] || { echo "snr_sweep.sh: $BIN/cidforge is not built" >&2; exit 1; }
command -v gnuplot >/dev/null || { echo "snr_sweep.sh: gnuplot is needed for the plots" >&2; exit 1; }
command -v jq >/dev/null || { echo "snr_sweep.sh: jq is needed to score cidscan's JSON" >&2; exit 1; }

have() { [[ -x $1 ]] || command -v "$1" >/dev/null 2>&1; }

# Receivers of a format: id|label|needs
# shellcheck disable=SC2034  # read through a name reference
receivers_us=(
    "ours|cidprobe|$BIN/cidprobe"
    "cidscan|cidscan|$BIN/cidscan"
    "spandsp|spandsp (CLASS)|$BIN/cidpeer"
    "minimodem|minimodem (raw bytes)|minimodem"
)
# shellcheck disable=SC2034  # read through a name reference
receivers_ntt=(
    "ours|cidprobe-ntt|$BIN/cidprobe-ntt"
    "cidscan|cidscan|$BIN/cidscan"
    "spandsp|spandsp (JCLIP)|$BIN/cidpeer"
    "minimodem|minimodem (raw bytes)|minimodem"
)

# decode FORMAT ID INPUT DIR: runs one receiver on INPUT and prints the number of bursts
# decoded with every byte right.
decode() {
    local format=$1 id=$2 in=$3 dir=$4 out=$WORK/out.txt right
    case $format:$id in
    us:ours)
        "$BIN/cidprobe" "$in" "$out" 2>/dev/null
        report_keys "$out" >"$out.keys"
        read -r right _ < <(score "$out.keys" "$dir/cidprobe.keys")
        ;;
    ntt:ours)
        "$BIN/cidprobe-ntt" "$in" "$out" 2>/dev/null
        report_keys "$out" SHIFT_JIS >"$out.keys"
        read -r right _ < <(score "$out.keys" "$dir/cidprobe.keys")
        ;;
    us:cidscan | ntt:cidscan)
        # A burst is right when a message with a passing check carries its bytes.
        "$BIN/cidscan" --json --standard "$format" "$in" >"$out" 2>/dev/null || true
        jq -r 'select(.valid) | .raw' "$out" >"$out.keys"
        read -r right _ < <(score "$out.keys" "$dir/frames.hex")
        ;;
    us:spandsp | ntt:spandsp)
        local mode=recv-us
        if [[ $format == ntt ]]; then mode=recv-jp; fi
        "$BIN/cidpeer" "$mode" "$in" >"$out"
        spandsp_keys "$out" >"$out.keys"
        read -r right _ < <(score "$out.keys" "$dir/spandsp.keys")
        ;;
    us:minimodem)
        minimodem --rx 1200 --stopbits 5 --quiet --file "$in" >"$out" 2>/dev/null
        read -r right _ < <(score_frames "$out" "$dir/frames.hex")
        ;;
    ntt:minimodem)
        minimodem --rx 1200 --mark 1300 --space 2100 --stopbits 5 --quiet --file "$in" >"$out" 2>/dev/null
        read -r right _ < <(score_frames "$out" "$dir/frames.hex")
        ;;
    esac
    echo "$right"
}

# ninety_points DAT: the table row of every receiver's 90% point: the lowest SNR from
# which on every step has at least 0.90 of the bursts right, interpolated linearly with
# the step below it; "≤ FIRST" when every step is at 0.90 or over, "> LAST" when the
# last step is under 0.90.
ninety_points() {
    grep -v '^#' "$1" | awk '
        { snr[NR] = $1; for (i = 2; i <= NF; i++) f[NR, i] = $i; cols = NF; rows = NR }
        END {
            printf "| **90%% point (dB)** |"
            for (i = 2; i <= cols; i++) {
                k = rows + 1
                while (k > 1 && f[k - 1, i] >= 0.9) k--
                if (k > rows) printf " > %s |", snr[rows]
                else if (k == 1) printf " ≤ %s |", snr[1]
                else {
                    a = f[k - 1, i]; b = f[k, i]
                    printf " **%.1f** |", snr[k - 1] + (0.9 - a) / (b - a) * (snr[k] - snr[k - 1])
                }
            }
            printf "\n"
        }'
}

# sweep FORMAT: writes docs/snr_FORMAT.dat and .png and the table rows.
sweep() {
    local format=$1
    local -n receivers=receivers_$format
    local dir=$WORK/$format
    echo "snr_sweep.sh: $format: making $BURSTS bursts" >&2
    make_bursts "$format" "$BURSTS" "$AMPLITUDE" "$dir"
    local files=() k
    for ((k = 0; k < BURSTS; k++)); do files+=("$dir/burst_$k.wav"); done

    local ids=() labels=() row id label needs
    for row in "${receivers[@]}"; do
        IFS='|' read -r id label needs <<<"$row"
        if have "$needs"; then
            ids+=("$id")
            labels+=("$label")
        else
            echo "snr_sweep.sh: $label is not available, left out" >&2
        fi
    done

    local dat=$DOCS/snr_$format.dat
    {
        printf '# Fraction of %s %s bursts decoded with every byte right, by SNR in dB\n' "$BURSTS" "$format"
        printf '# (tone power over white Gaussian noise power in 0..4000 Hz, fs 8000 Hz).\n'
        printf '# Made by bench/snr_sweep.sh.\n'
        printf '# snr_db'
        printf ' %s' "${ids[@]}"
        printf '\n'
    } >"$dat"
    local snr step=0
    local steps=()
    mapfile -t steps < <(awk -v a="$SNR_FROM" -v b="$SNR_TO" -v s="$SNR_STEP" 'BEGIN { for (x = a; x <= b + 1e-9; x += s) print x }')
    for snr in "${steps[@]}"; do
        local rms
        rms=$(awk -v a="$AMPLITUDE" -v snr="$snr" 'BEGIN { A = a * 327.68; printf "%.4f", A / sqrt(2 * 10 ^ (snr / 10)) }')
        "$WORK/wavmix" "$dir/step.wav" $((BURSTS * SPACING + 1)) "$rms" $((7000 + step)) 0.5 "$SPACING" "${files[@]}" >/dev/null
        local line=$snr
        for id in "${ids[@]}"; do
            local right
            right=$(decode "$format" "$id" "$dir/step.wav" "$dir")
            line+=$(awk -v r="$right" -v n="$BURSTS" 'BEGIN { printf " %.2f", r / n }')
        done
        echo "$line" >>"$dat"
        echo "snr_sweep.sh: $format $line" >&2
        step=$((step + 1))
    done

    local title="US format (Bell 202, SDMF)"
    if [[ $format == ntt ]]; then title="NTT format (V.23, DLE frame with CRC)"; fi
    {
        printf 'set terminal pngcairo size 800,480 font ",11"\n'
        printf 'set output "%s"\n' "$DOCS/snr_$format.png"
        printf 'set title "%s: %s bursts per step, white Gaussian noise"\n' "$title" "$BURSTS"
        printf 'set xlabel "SNR (dB): tone power / noise power in 0..fs/2, fs = 8000 Hz"\n'
        printf 'set ylabel "bursts decoded with every byte right"\n'
        printf 'set yrange [0:1.05]\nset grid\nset key bottom right\n'
        printf 'plot '
        local i
        for ((i = 0; i < ${#ids[@]}; i++)); do
            if ((i > 0)); then printf ', '; fi
            printf '"%s" using 1:%d with linespoints lw 2 title "%s"' "$dat" $((i + 2)) "${labels[i]}"
        done
        printf '\n'
    } >"$WORK/plot.gp"
    gnuplot "$WORK/plot.gp"

    # The table: one column per receiver, one row per SNR step.
    {
        printf '\n#### %s\n\n![%s](snr_%s.png)\n\n' "$title" "$title" "$format"
        printf '| SNR (dB) |'
        printf ' %s |' "${labels[@]}"
        printf '\n|---:|'
        for id in "${ids[@]}"; do printf -- '---:|'; done
        printf '\n'
        grep -v '^#' "$dat" | awk '{ printf "| %s |", $1; for (i = 2; i <= NF; i++) printf " %s |", $i; printf "\n" }'
        ninety_points "$dat"
    } >>"$WORK/table.md"
}

mkdir -p "$DOCS"
build_wavmix
: >"$WORK/table.md"
sweep us
sweep ntt

{
    printf '<!-- begin snr_sweep.sh -->\n'
    # shellcheck disable=SC2016  # the backquotes are Markdown
    printf 'Made by `bench/snr_sweep.sh` on %s; commit %s; %s bursts per step, SNR %s to %s dB in steps of %s dB, tone peak %s%% of full scale.\n' \
        "$(date -u +%Y-%m-%d)" "$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)" \
        "$BURSTS" "$SNR_FROM" "$SNR_TO" "$SNR_STEP" "$AMPLITUDE"
    cat "$WORK/table.md"
    printf '<!-- end snr_sweep.sh -->\n'
} >"$WORK/section.md"
cat "$WORK/section.md"

put_section snr_sweep.sh "$WORK/section.md" "$DOCS/benchmarks.md"
