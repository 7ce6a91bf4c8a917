#!/usr/bin/env bash
# Rebuilds the seed corpora in fuzz/corpus/ from real files: bursts and DTMF
# sequences written by the built generators, the example data files, and the
# byte sequences and file variants that the unit tests use.
# Usage: fuzz/seeds.sh BIN_DIR   (a folder holding cidforge and padtoner)
set -euo pipefail

bin="${1:?usage: fuzz/seeds.sh BIN_DIR}"
root="$(cd "$(dirname "$0")/.." && pwd)"
corpus="$root/fuzz/corpus"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for t in wave_reader scan_us scan_ntt sdmf_decoder ntt_decoder settings cidforge_data padtoner_data \
    message_decoders cidscan_input; do
    rm -rf "${corpus:?}/$t"
    mkdir -p "$corpus/$t"
done

# Bytes from a list of hexadecimal values.
hex() { for h in "$@"; do printf "\\x$h"; done; }
le32() { hex "$(printf %02x $(($1 & 255)))" "$(printf %02x $(($1 >> 8 & 255)))" \
             "$(printf %02x $(($1 >> 16 & 255)))" "$(printf %02x $(($1 >> 24 & 255)))"; }
le16() { hex "$(printf %02x $(($1 & 255)))" "$(printf %02x $(($1 >> 8 & 255)))"; }

# ---- generator data files and the bursts they give ----------------------

cp "$root/examples/fskntt.txt" "$corpus/cidforge_data/example-ntt.txt"
cp "$root/examples/fskusa.txt" "$corpus/cidforge_data/example-usa.txt"
cp "$root/examples/dtmf.txt" "$corpus/padtoner_data/example.txt"

burst() {  # name rate bits format number name-or-date
    local name=$1 rate=$2 bits=$3 format=$4 number=$5 extra=$6
    {
        printf 'SamplingFrequency %s\nQuantizationBitLength %s\nAmplitude 50\nNoiseAmplitude 3\n' "$rate" "$bits"
        printf 'LeaderDuration 10\nHeaderDuration 60\nFooterDuration 10\nDirectoryNumber %s\n' "$number"
        if [[ $format == usa ]]; then printf 'DateTime %s\n' "$extra"; else printf 'IDName "%s"\n' "$extra"; fi
    } >"$work/$name.txt"
    local opts=()
    [[ $format == usa ]] && opts=(-USA)
    [[ $format == euc ]] && opts=(-EUC)
    "$bin/cidforge" "$work/$name.txt" "$work/$name.wav" "${opts[@]}" >/dev/null
    cp "$work/$name.txt" "$corpus/cidforge_data/$name.txt"
}

burst us-8k-8 8000 8 usa 0123456789 12251030
burst us-8k-16 8000 16 usa 5551234 01011200
burst us-11k-8 11025 8 usa 0 0101
burst ntt-8k-8 8000 8 ntt 0123456789 "$(hex 88 9f 8e 52)"
burst ntt-8k-16 8000 16 ntt 0312345678 ""
burst ntt-euc-8k-8 8000 8 euc 0123456789012345 "$(hex b0 a1 bb b3)"

# The detector targets take the sensitivity from the last byte (80) and the
# NTT character set from the one before it.
for f in us-8k-8 us-8k-16 us-11k-8; do
    { cat "$work/$f.wav"; hex 00 50; } >"$corpus/scan_us/$f.wav"
done
for f in ntt-8k-8 ntt-8k-16 ntt-euc-8k-8; do
    { cat "$work/$f.wav"; hex 01 50; } >"$corpus/scan_ntt/$f.wav"
done
# A US burst whose header claims 0xFFFFFFFF data bytes and whose data stops
# in the middle of the message.
{ head -c 40 "$work/us-8k-8.wav"; le32 0xFFFFFFFF; tail -c +45 "$work/us-8k-8.wav" | head -c 1800; } \
    >"$corpus/scan_us/us-cut-open-size.wav"
{ head -c 40 "$work/ntt-8k-8.wav"; le32 0xFFFFFFFF; tail -c +45 "$work/ntt-8k-8.wav" | head -c 2000; } \
    >"$corpus/scan_ntt/ntt-cut-open-size.wav"
cp "$work/us-8k-8.wav" "$work/ntt-8k-16.wav" "$corpus/wave_reader/"

# ---- padtoner ------------------------------------------------------------

dtmf() {  # name rate bits symbols
    printf 'SamplingFrequency %s\nQuantizationBitLength %s\nAmplitude 30\nNoiseAmplitude 2\nPNoiseAmplitude 2\nLeaderDuration 20\nToneDuration 40\nSilenceDuration 20\nRampDuration 3\nDTMFData "%s"\n' \
        "$2" "$3" "$4" >"$corpus/padtoner_data/$1.txt"
    "$bin/padtoner" "$corpus/padtoner_data/$1.txt" "$work/$1.wav" >/dev/null
}
dtmf short-8k-8 8000 8 '1#A'
dtmf short-8k-16 8000 16 '0d*'
printf 'SamplingFrequency8000\n/Amplitude 50\nAmplitude30 //x\nDTMFData 12//x\nDTMFData ""12""\nToneDuration -5\n' \
    >"$corpus/padtoner_data/odd-lines.txt"
cp "$work/short-8k-8.wav" "$corpus/wave_reader/dtmf-8k-8.wav"

# ---- hand-made WAV variants ---------------------------------------------

prefix() {  # channels rate bits blocksize fmtsize
    printf 'RIFF'; le32 1000; printf 'WAVEfmt '; le32 "$5"; le16 1; le16 "$1"; le32 "$2"
    le32 $(($2 * $4)); le16 "$4"; le16 "$3"
    local i
    for ((i = 16; i < $5; i++)); do hex 00; done
}
samples() { head -c "$1" "$work/us-8k-16.wav" | tail -c 200; }
{ prefix 1 8000 16 2 18; printf 'data'; le32 200; samples 400; } >"$corpus/wave_reader/fmt18.wav"
{ prefix 1 8000 16 2 16; printf 'fact'; le32 4; le32 100; printf 'fact'; le32 0; printf 'data'; le32 200; samples 400; } \
    >"$corpus/wave_reader/fact-chunks.wav"
{ prefix 2 8000 16 4 16; printf 'data'; le32 200; samples 400; } >"$corpus/wave_reader/stereo.wav"
{ prefix 1 8000 24 3 16; printf 'data'; le32 201; samples 401; } >"$corpus/wave_reader/24bit.wav"
{ prefix 1 8000 16 2 16; printf 'data'; le32 0xFFFFFFFF; samples 400; } >"$corpus/wave_reader/open-size.wav"
{ prefix 1 8000 16 0 16; printf 'data'; le32 200; samples 400; } >"$corpus/wave_reader/blocksize0.wav"
{ prefix 1 8000 16 2 16; printf 'fact'; le32 0x7FFFFFF0; printf 'data'; } >"$corpus/wave_reader/fact-past-end.wav"
{ prefix 1 8000 8 1 16; printf 'LIST'; le32 4; printf 'abcd'; printf 'data'; le32 4; hex 00 80 ff 7f; } \
    >"$corpus/wave_reader/list-chunk.wav"
head -c 30 "$work/us-8k-8.wav" >"$corpus/wave_reader/cut-header.wav"

# ---- message decoders (0x5C escapes: 5C 5C the byte, 5C xx a reset) -----

# US single data message of the decoder's worked example, a short one, an
# MDMF header, and two bursts with a reset between them.
sdmf_example="04 12 31 32 32 35 31 30 33 30 30 31 32 33 34 35 36 37 38 39 4f"
hex $sdmf_example >"$corpus/sdmf_decoder/example"
hex 04 08 30 31 30 31 31 32 30 30 6f >"$corpus/sdmf_decoder/date-only"
hex 04 00 fc >"$corpus/sdmf_decoder/empty"
hex 80 20 01 08 30 31 30 31 31 32 30 30 >"$corpus/sdmf_decoder/mdmf"
{ hex $sdmf_example; hex 5c 00 05 04; hex $sdmf_example; } >"$corpus/sdmf_decoder/two-bursts"

# NTT frames (first byte: the JapaneseCode): number only, number and name,
# a wrong header character, reason and extended information parameters.
ntt_number="90 81 87 90 82 c0 0c 82 0a 30 b1 b2 33 b4 35 36 b7 b8 39 90 03 00 b1"
ntt_name="90 81 87 90 82 c0 90 90 82 0a 30 b1 b2 33 b4 35 36 b7 b8 39 87 82 30 21 90 03 8f da"
hex 00 $ntt_number >"$corpus/ntt_decoder/number"
hex 00 $ntt_name >"$corpus/ntt_decoder/name-sjis"
hex 01 $ntt_name >"$corpus/ntt_decoder/name-euc"
hex 02 $ntt_name >"$corpus/ntt_decoder/name-jis"
hex 00 90 81 06 90 82 c0 0c 82 0a 30 b1 b2 33 b4 35 36 b7 b8 39 90 03 00 b1 >"$corpus/ntt_decoder/wrong-header"
hex 00 90 81 87 90 82 c0 06 84 01 50 a1 03 b1 30 b1 90 03 12 34 >"$corpus/ntt_decoder/reason-extended"
{ hex 00 $ntt_number; hex 5c 00; hex 90 81 87 90 82 c0 0c; } >"$corpus/ntt_decoder/reset-mid-frame"

# ---- whole-message decoders and cidscan's input ---------------------------

# US messages (SDMF, MDMF with name and absence codes), an NTT frame, and
# both in one input with a reset between them.
mdmf="80 1c 01 08 31 32 32 35 31 30 33 30 02 0a 32 31 32 35 35 35 31 32 33 34 04 01 50 08 01 4f 16"
hex $sdmf_example >"$corpus/message_decoders/sdmf"
hex $mdmf >"$corpus/message_decoders/mdmf-absent"
hex $ntt_name >"$corpus/message_decoders/ntt-name"
{ hex $mdmf; hex 5c 00; hex $ntt_number; } >"$corpus/message_decoders/us-then-ntt"

# First byte: 0 a file, 1 a stream on standard input, 2-4 headerless s16le,
# mu-law, A-law (second byte: rate and channels). Short bursts keep runs fast.
for kind in usa ntt; do
    flag=()
    [[ $kind == usa ]] && flag=(-USA)
    sed -e 's/^QuantizationBitLength.*/QuantizationBitLength 8/' -e 's/^LeaderDuration.*/LeaderDuration 20/' \
        -e 's/^FooterDuration.*/FooterDuration 10/' -e 's/^HeaderDuration.*/HeaderDuration 80/' \
        "$root/examples/fsk$kind.txt" >"$work/short-$kind.txt"
    "$bin/cidforge" "$work/short-$kind.txt" "$work/short-$kind.wav" "${flag[@]}" >/dev/null
    { hex 00 00; cat "$work/short-$kind.wav"; } >"$corpus/cidscan_input/file-$kind.wav"
    { hex 01 00; cat "$work/short-$kind.wav"; } >"$corpus/cidscan_input/stream-$kind.wav"
    { hex 03 00; tail -c +45 "$work/short-$kind.wav"; } >"$corpus/cidscan_input/raw-$kind.bin"
done

# ---- settings files -------------------------------------------------------

printf 'Sensitivity 65\n' >"$corpus/settings/sensitivity"
printf '/Sensitivity 10\nSensitivity=30\n Sensitivity 40\nJapaneseCode 1\nSensitivity -7\n' >"$corpus/settings/mixed"
printf 'JapaneseCode 2\r\nSensitivity 99999999999999999999\r\n' >"$corpus/settings/crlf-huge"

echo "seed corpora written to $corpus"
du -sh "$corpus"
