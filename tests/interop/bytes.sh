# shellcheck shell=bash
# Caller-ID byte layouts worked out independently of the generators, for the interop tests
# and the benchmarks; sourced, never run on its own. Every function prints lower-case hex.

# hex_of_text TEXT: the bytes of TEXT as lower-case hex, no separators.
hex_of_text() {
    printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'
}

# spaced HEX: "0412ab" -> "04 12 ab".
spaced() {
    sed -E 's/(..)/\1 /g; s/ $//' <<<"$1"
}

# sdmf_bytes DATETIME NUMBER: the SDMF message as hex (type 04, length, the digits,
# checksum making all bytes add up to 0 modulo 256), computed here independently.
sdmf_bytes() {
    local body
    body=$(hex_of_text "$1$2")
    local len=$((${#body} / 2))
    local out sum=$((4 + len)) i
    out=$(printf '04%02x%s' "$len" "$body")
    for ((i = 0; i < ${#body}; i += 2)); do
        sum=$((sum + 16#${body:i:2}))
    done
    printf '%s%02x' "$out" $(((256 - sum % 256) % 256))
}

# even_parity BYTE: sets bit 7 so that the eight bits hold an even number of ones.
even_parity() {
    local b=$1 ones=0 i
    for ((i = 0; i < 7; i++)); do
        ones=$((ones + ((b >> i) & 1)))
    done
    echo $((b | ((ones & 1) << 7)))
}

# reverse_bits BYTE: bit i becomes bit 7 - i.
reverse_bits() {
    local b=$1 r=0 i
    for ((i = 0; i < 8; i++)); do
        r=$(((r << 1) | ((b >> i) & 1)))
    done
    echo "$r"
}

# ntt_crc_value FRAMEHEX: the frame's CRC as a receiver rebuilds it from the two bytes as
# received: the bits of each byte reversed, the first byte high.
ntt_crc_value() {
    local hex=$1
    printf '%04x' $((($(reverse_bits $((16#${hex: -4:2}))) << 8) | $(reverse_bits $((16#${hex: -2})))))
}

# crc_kermit HEX: CRC-16 with the reflected polynomial 0x8408, initial value 0.
crc_kermit() {
    local hex=$1 crc=0 i k b
    for ((i = 0; i < ${#hex}; i += 2)); do
        b=$((16#${hex:i:2}))
        crc=$((crc ^ b))
        for ((k = 0; k < 8; k++)); do
            if ((crc & 1)); then
                crc=$(((crc >> 1) ^ 0x8408))
            else
                crc=$((crc >> 1))
            fi
        done
    done
    echo "$crc"
}

# ntt_plain NUMBER JISHEX: the characters of an NTT frame as hex, without parity bits and
# without the CRC: DLE SOH, header 07, DLE STX, message type 40, the content length, the
# number parameter (02) and, when JISHEX is not empty, the name parameter (07), DLE ETX.
# Every length byte equal to 0x10 is followed by a second 0x10, and the content length
# counts the doubled bytes of the parameters.
ntt_plain() {
    local numhex
    numhex=$(hex_of_text "$1")
    local name=$2
    local nn=$((${#numhex} / 2)) nm=$((${#name} / 2))
    local m=$((nn + 2 + (nn == 16 ? 1 : 0)))
    if ((nm > 0)); then
        m=$((m + nm + 2 + (nm == 16 ? 1 : 0)))
    fi
    local plain=1001071002
    plain+=$(printf '40%02x' "$m")
    if ((m == 16)); then plain+=10; fi
    plain+=$(printf '02%02x' "$nn")
    if ((nn == 16)); then plain+=10; fi
    plain+=$numhex
    if ((nm > 0)); then
        plain+=$(printf '07%02x' "$nm")
        if ((nm == 16)); then plain+=10; fi
        plain+=$name
    fi
    printf '%s1003' "$plain"
}

# ntt_frame NUMBER JISHEX: the frame as sent: every character of ntt_plain with its even
# parity bit, then the CRC over the header..ETX characters, low byte first, no parity.
ntt_frame() {
    local plain framed="" i crc
    plain=$(ntt_plain "$1" "$2")
    for ((i = 0; i < ${#plain}; i += 2)); do
        framed+=$(printf '%02x' "$(even_parity $((16#${plain:i:2})))")
    done
    crc=$(crc_kermit "${framed:4}")
    printf '%s%02x%02x' "$framed" $((crc & 255)) $((crc >> 8))
}

# jis_of_utf8 TEXT: the 7-bit JIS X 0208 bytes of TEXT as hex (the escape sequences that
# ISO-2022-JP puts around them removed).
jis_of_utf8() {
    printf '%s' "$1" | iconv -f UTF-8 -t ISO-2022-JP | od -An -v -tx1 | tr -d ' \n' |
        sed -E 's/^1b2442//; s/1b2842$//'
}

bytes_fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Self-check of the byte builders above against frames worked out by hand, so that a
# fault in this file shows as such and not as a fault of the program under test.
[[ $(sdmf_bytes 01011200 0123456789) == 041230313031313230303031323334353637383958 ]] ||
    bytes_fail "helper sdmf_bytes is wrong"
[[ $(ntt_frame 0123456789 "") == 9081879082c00c820a30b1b233b43536b7b839900300b1 ]] ||
    bytes_fail "helper ntt_frame is wrong (number only)"
[[ $(ntt_frame 0123456789 3021) == 9081879082c09090820a30b1b233b43536b7b8398782302190038fda ]] ||
    bytes_fail "helper ntt_frame is wrong (doubled length)"
[[ $(ntt_crc_value "$(ntt_frame 0123456789 3021)") == f15b ]] ||
    bytes_fail "helper ntt_crc_value is wrong"
