#!/usr/bin/env bash
# Builds the programs and runs their main job on the bundled example data: writes an
# NTT and a US caller-ID burst and a DTMF sequence, shows their WAV headers,
# decodes both bursts and prints the reports, then lets cidscan read a US MDMF
# burst with a name (examples/mdmf-name.wav, mu-law, written once by spandsp's
# transmitter through tests/interop/cidpeer) and a WAV file with a LIST chunk
# as ffmpeg writes it. Everything lands in out/.
# Each step runs only when its program has been built.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# What the programs need to build (installed when missing), then the programs
# alone: the tests are the job of tests/run.sh.
source tools/packages.sh
ensure_packages "${PROGRAM_PACKAGES[@]}"
cmake --preset programs >/dev/null
cmake --build --preset programs

bin="$root/build/programs/bin"
ex="examples"
out="out"
mkdir -p "$out"

have() { [[ -x "$bin/$1" ]]; }
# A generator step needs its example data file too.
data() {
    [[ -f "$ex/$1" ]] && return 0
    printf '\n(skipped: examples/%s is missing)\n' "$1"
    return 1
}
step() { printf '\n==== %s\n' "$*"; }

# Results of an earlier run must not pass for this run's.
rm -f "$out"/ntt.wav "$out"/usa.wav "$out"/dtmf.wav "$out"/ntt.txt "$out"/usa.txt "$out"/usa-list.wav

if have cidforge && data fskntt.txt; then
    step "cidforge: NTT caller-ID burst -> out/ntt.wav"
    "$bin/cidforge" "$ex/fskntt.txt" "$out/ntt.wav" -NTT -SJIS
fi
if have cidforge && data fskusa.txt; then
    step "cidforge: US caller-ID burst -> out/usa.wav"
    "$bin/cidforge" "$ex/fskusa.txt" "$out/usa.wav" -USA
fi

if have padtoner && data dtmf.txt; then
    step "padtoner: DTMF sequence -> out/dtmf.wav"
    "$bin/padtoner" "$ex/dtmf.txt" "$out/dtmf.wav"
fi

if have wavpeek; then
    for f in ntt usa dtmf; do
        if [[ -f "$out/$f.wav" ]]; then
            step "wavpeek out/$f.wav"
            "$bin/wavpeek" "$out/$f.wav" </dev/null
        fi
    done
fi

if have cidprobe && [[ -f "$out/usa.wav" ]]; then
    step "cidprobe: out/usa.wav -> out/usa.txt"
    "$bin/cidprobe" "$out/usa.wav" "$out/usa.txt"
    step "report out/usa.txt"
    cat "$out/usa.txt"
fi

if have cidprobe-ntt && [[ -f "$out/ntt.wav" ]]; then
    step "cidprobe-ntt: out/ntt.wav -> out/ntt.txt"
    "$bin/cidprobe-ntt" "$out/ntt.wav" "$out/ntt.txt"
    step "report out/ntt.txt (Shift-JIS, shown as UTF-8)"
    if text="$(iconv -f SHIFT_JIS -t UTF-8 "$out/ntt.txt" 2>/dev/null)"; then
        printf '%s\n' "$text"
    else
        cat "$out/ntt.txt"
    fi
fi

# le32 N: four little-endian bytes.
le32() {
    local n=$1
    printf "\\x$(printf %02x $((n & 255)))\\x$(printf %02x $((n >> 8 & 255)))"
    printf "\\x$(printf %02x $((n >> 16 & 255)))\\x$(printf %02x $((n >> 24 & 255)))"
}

# with_list_chunk IN OUT: IN (a 44-byte-header WAV as cidforge writes it) with a LIST
# chunk between the format and the data chunks, as ffmpeg writes its files.
with_list_chunk() {
    local in=$1 out=$2 size
    size=$(($(wc -c <"$in") - 8 + 34))
    {
        printf 'RIFF'
        le32 "$size"
        head -c 36 "$in" | tail -c +9
        printf 'LIST'
        le32 26
        printf 'INFOISFT'
        le32 14
        printf 'Lavf59.27.100\0'
        tail -c +37 "$in"
    } >"$out"
}

if have cidscan && [[ -f "$ex/mdmf-name.wav" ]]; then
    step "cidscan: US MDMF burst with a name (mu-law WAV)"
    "$bin/cidscan" "$ex/mdmf-name.wav"
    if command -v jq >/dev/null 2>&1; then
        step "cidscan --json, the fields picked out with jq"
        "$bin/cidscan" --json "$ex/mdmf-name.wav" | jq -r '.fields | "\(.date) \(.time)  \(.number)  \(.name)"'
    else
        step "cidscan --json (install jq to pick out the fields)"
        "$bin/cidscan" --json "$ex/mdmf-name.wav"
    fi
fi

if have cidscan && [[ -f "$out/usa.wav" ]]; then
    with_list_chunk "$out/usa.wav" "$out/usa-list.wav"
    step "cidscan --json: out/usa-list.wav (LIST chunk before the data, which cidprobe refuses)"
    "$bin/cidscan" --json "$out/usa-list.wav"
    if [[ -f "$out/ntt.wav" ]]; then
        step "cidscan: both bursts in one run, each with its standard"
        "$bin/cidscan" "$out/usa-list.wav" "$out/ntt.wav"
    fi
fi

printf '\ndemo finished; files are in %s\n' "$out"
