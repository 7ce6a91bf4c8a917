# shellcheck shell=bash
# Shared parts of bench/compare.sh and bench/snr_sweep.sh: burst sets of known content,
# and the scoring of each receiver's output against them. Sourced, never run on its own.
# Needs REPO (the checkout), BIN (our programs), WORK (a scratch folder).

# shellcheck source=../../tests/interop/bytes.sh
source "$REPO/tests/interop/bytes.sh"

# Four-character names for the NTT bursts (eight JIS bytes, so that the content length is
# never 0x10, which spandsp's receiver can't take).
BENCH_NAMES=(山田太郎 鈴木一郎 佐藤花子 田中次郎 高橋三郎 伊藤久美 渡辺直樹 中村明美)

# build_wavmix: compiles the noise-and-bursts mixer into $WORK/wavmix.
build_wavmix() {
    g++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow \
        "$REPO/bench/tools/wavmix.cpp" -o "$WORK/wavmix"
}

# make_bursts FORMAT COUNT AMPLITUDE DIR: writes COUNT cidforge bursts of distinct content
# (DIR/burst_K.wav, 8000 Hz, 16 bits, no noise, 150 ms of mark ahead of the message) and
# the expected outputs of every receiver, one line per burst, in DIR:
#   us:  cidprobe.keys, spandsp.keys, minimodem.keys
#   ntt: cidprobe.keys (UTF-8), spandsp.keys, frames.hex (bytes on the line)
make_bursts() {
    local format=$1 count=$2 amplitude=$3 dir=$4 k
    mkdir -p "$dir"
    : >"$dir/cidprobe.keys"
    : >"$dir/spandsp.keys"
    : >"$dir/minimodem.keys"
    : >"$dir/frames.hex"
    for ((k = 0; k < count; k++)); do
        local data=$dir/data.txt
        printf 'SamplingFrequency 8000\nQuantizationBitLength 16\nAmplitude %s\n' "$amplitude" >"$data"
        printf 'NoiseAmplitude 0\nLeaderDuration 0\nHeaderDuration 150\nFooterDuration 20\n' >>"$data"
        if [[ $format == us ]]; then
            local number datetime bytes
            number=$(printf '212555%04d' "$k")
            datetime=$(printf '%02d%02d%02d%02d' $((k % 12 + 1)) $((k % 28 + 1)) $((k % 24)) $((k % 60)))
            printf 'DirectoryNumber %s\nDateTime %s\n' "$number" "$datetime" >>"$data"
            "$BIN/cidforge" "$data" "$dir/burst_$k.wav" -USA >/dev/null
            bytes=$(sdmf_bytes "$datetime" "$number")
            printf '04 [SDMF header]|%s [SDMF packet length=%d]|   [Date] %s.%s|   [Time] %s:%s|   [Number] %s|%s [SDMF packet checksum] 00 correct\n' \
                "${bytes:2:2}" $((16#${bytes:2:2})) "${datetime:0:2}" "${datetime:2:2}" \
                "${datetime:4:2}" "${datetime:6:2}" "$number" "${bytes: -2}" >>"$dir/cidprobe.keys"
            printf 'message %s\n' "$(spaced "${bytes%??}")" >>"$dir/spandsp.keys"
            printf '%s|%s\n' "$datetime" "$number" >>"$dir/minimodem.keys"
            printf '%s\n' "$bytes" >>"$dir/frames.hex"
        else
            local number name jis frame crc
            number=$(printf '03%08d' "$k")
            name=${BENCH_NAMES[k % ${#BENCH_NAMES[@]}]}
            jis=$(jis_of_utf8 "$name")
            {
                printf 'DirectoryNumber %s\nIDName ' "$number"
                printf '%s' "$name" | iconv -f UTF-8 -t SHIFT_JIS
                printf '\n'
            } >>"$data"
            "$BIN/cidforge" "$data" "$dir/burst_$k.wav" >/dev/null
            frame=$(ntt_frame "$number" "$jis")
            crc=$(ntt_crc_value "$frame")
            printf '10 [DLE]|01 [SOH]|07 [ヘッダ]|10 [DLE]|02 [STX]|40 [通信前情報通知サービス]|16 [メッセージ内容長=22]|02 [パラメータ種別　発信電話番号]|0a [情報内容長=10]|   %s|07 [パラメータ種別　発信企業名（氏名）情報]|08 [情報内容長=8]|   %s|10 [DLE]|03 [ETX]|%s [CRC] %s correct\n' \
                "$number" "$name" "$crc" "$crc" >>"$dir/cidprobe.keys"
            printf 'message %s\n' "$(spaced "$(ntt_plain "$number" "$jis")")" >>"$dir/spandsp.keys"
            printf '%s\n' "$frame" >>"$dir/frames.hex"
        fi
    done
}

# report_keys REPORT [CODE]: one line per burst of a detector report that carries any
# decoded line: the burst's lines between its detection and termination lines (the 55 ms
# line left out), joined by "|". CODE is the report's character code (converted to UTF-8).
report_keys() {
    local code=${2:-}
    if [[ -n $code ]]; then
        iconv -c -f "$code" -t UTF-8 "$1"
    else
        cat "$1"
    fi | awk '
        function flush() { if (key != "") print key; key = "" }
        /^detected \[/ { flush(); next }
        /^terminated \[/ { flush(); next }
        /^Mark at least 55ms has found\.$/ { next }
        { key = (key == "") ? $0 : key "|" $0 }
        END { flush() }'
}

# spandsp_keys OUTPUT: the "message" line of every message that cidpeer printed.
spandsp_keys() {
    grep '^message ' "$1" || true
}

# minimodem_keys OUTPUT: "MMDDhhmm|digits" for every caller-ID message that minimodem's
# callerid mode printed.
minimodem_keys() {
    awk '
        function flush() { if (open) print time "|" phone; open = 0; time = ""; phone = "" }
        /^CALLER-ID/ { flush(); open = 1; next }
        /^Time:/ { t = $0; sub(/^Time:/, "", t); gsub(/[^0-9]/, "", t); time = t; next }
        /^Phone:/ { p = $0; sub(/^Phone:/, "", p); gsub(/[^0-9]/, "", p); phone = p; next }
        END { flush() }' "$1"
}

# score FOUND EXPECTED: prints "right false": the bursts of EXPECTED whose line appears in
# FOUND, and the lines of FOUND that match no burst.
score() {
    local right false
    right=$(sort -u "$1" | comm -12 - <(sort -u "$2") | wc -l)
    false=$(grep -cvxF -f "$2" "$1" || true)
    echo "$right $false"
}

# score_frames RAWBYTES FRAMES: prints "right -": the frames (hex, one per line) that
# appear whole, byte for byte, in the raw byte stream of a modem.
score_frames() {
    local stream right=0 frame
    stream=$(od -An -v -tx1 "$1" | tr -d ' \n')
    while read -r frame; do
        if [[ $stream == *"$frame"* ]]; then right=$((right + 1)); fi
    done <"$2"
    echo "$right -"
}

# put_section NAME SECTION DOC: replaces the lines between "<!-- begin NAME -->" and
# "<!-- end NAME -->" of DOC (markers included) by the file SECTION, when DOC holds them.
put_section() {
    local name=$1 section=$2 doc=$3
    if [[ -f $doc ]] && grep -qxF "<!-- begin $name -->" "$doc"; then
        awk -v section="$section" -v begin="<!-- begin $name -->" -v end="<!-- end $name -->" '
            $0 == begin { while ((getline line < section) > 0) print line; skip = 1; next }
            $0 == end { skip = 0; next }
            !skip { print }' "$doc" >"$doc.new"
        mv "$doc.new" "$doc"
        echo "$name: updated $doc" >&2
    fi
}
