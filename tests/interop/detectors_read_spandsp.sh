#!/usr/bin/env bash
# Our detectors decode the caller-ID bursts that spandsp's transmitters write.
#   us        cidprobe reads a US SDMF burst (spandsp sends a channel-seizure pattern of
#             alternating bits, then steady mark, then the message with one stop bit)
#   ntt-number, ntt-name
#             cidprobe-ntt reads a Japanese burst (four stop bits per character) with a
#             number only, or with a number and a four-character name
# The report must hold exactly one burst whose every line is right.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_spandsp

# check_burst REPORT EXPECTED: REPORT holds one burst: its detection line, then exactly the
# lines of EXPECTED, then its termination line.
check_burst() {
    local report=$1 expected=$2
    local lines
    lines=$(wc -l <"$report")
    head -n 1 "$report" | grep -Eq '^detected \[[0-9]+ [0-9]+\]$' ||
        fail "the report does not start with a detection line: $(head -n 1 "$report")"
    tail -n 1 "$report" | grep -Eq '^terminated \[[0-9]+ [0-9]+\]$' ||
        fail "the report does not end with a termination line: $(tail -n 1 "$report")"
    if ((lines != $(wc -l <"$expected") + 2)); then
        cat "$report" >&2
        fail "the report holds $lines lines, not one burst of the expected lines"
    fi
    if ! diff -u "$expected" <(sed '1d;$d' "$report"); then
        fail "the decoded burst differs from what spandsp sent"
    fi
}

case ${ARGS[0]} in
us)
    need_program cidprobe
    datetime=12251030
    number=2125551234
    "$CIDPEER" send-us "$WORK/burst.wav" "$datetime" "$number" 200
    "$BIN_DIR/cidprobe" "$WORK/burst.wav" "$WORK/report.txt" 2>"$WORK/console.txt" ||
        fail "cidprobe failed: $(cat "$WORK/console.txt")"
    bytes=$(sdmf_bytes "$datetime" "$number")
    {
        printf 'Mark at least 55ms has found.\n'
        printf '04 [SDMF header]\n'
        printf '%s [SDMF packet length=%d]\n' "${bytes:2:2}" $((16#${bytes:2:2}))
        printf '   [Date] %s.%s\n' "${datetime:0:2}" "${datetime:2:2}"
        printf '   [Time] %s:%s\n' "${datetime:4:2}" "${datetime:6:2}"
        printf '   [Number] %s\n' "$number"
        printf '%s [SDMF packet checksum] 00 correct\n' "${bytes: -2}"
    } >"$WORK/expected.txt"
    check_burst "$WORK/report.txt" "$WORK/expected.txt"
    ;;
ntt-number | ntt-name)
    need_program cidprobe-ntt
    need_command iconv
    number=0312345678
    name=""
    if [[ ${ARGS[0]} == ntt-name ]]; then name=鈴木一郎; fi
    jis=""
    if [[ -n $name ]]; then jis=$(jis_of_utf8 "$name"); fi
    "$CIDPEER" send-jp "$WORK/burst.wav" "$number" "$jis" 200
    "$BIN_DIR/cidprobe-ntt" "$WORK/burst.wav" "$WORK/report.sjis" 2>"$WORK/console.txt" ||
        fail "cidprobe-ntt failed: $(cat "$WORK/console.txt")"
    # The report is Shift-JIS; compare it as UTF-8 so that a difference reads plainly.
    iconv -f SHIFT_JIS -t UTF-8 "$WORK/report.sjis" >"$WORK/report.all" ||
        fail "the report is not valid Shift-JIS"
    # The CRC line, second to last, must show the CRC of the frame as sent (worked out
    # here independently) as received and as computed.
    crc=$(ntt_crc_value "$(ntt_frame "$number" "$jis")")
    total=$(wc -l <"$WORK/report.all")
    crcline=$(sed -n "$((total - 1))p" "$WORK/report.all")
    [[ $crcline == "$crc [CRC] $crc correct" ]] ||
        fail "the CRC line is not '$crc [CRC] $crc correct': $crcline"
    sed "$((total - 1))d" "$WORK/report.all" >"$WORK/report.txt"
    nn=${#number}
    nm=$((${#jis} / 2))
    m=$((nn + 2))
    if ((nm > 0)); then m=$((m + nm + 2)); fi
    {
        printf 'Mark at least 55ms has found.\n'
        printf '10 [DLE]\n01 [SOH]\n07 [ヘッダ]\n10 [DLE]\n02 [STX]\n'
        printf '40 [通信前情報通知サービス]\n'
        printf '%02x [メッセージ内容長=%d]\n' "$m" "$m"
        printf '02 [パラメータ種別　発信電話番号]\n'
        printf '%02x [情報内容長=%d]\n' "$nn" "$nn"
        printf '   %s\n' "$number"
        if ((nm > 0)); then
            printf '07 [パラメータ種別　発信企業名（氏名）情報]\n'
            printf '%02x [情報内容長=%d]\n' "$nm" "$nm"
            printf '   %s\n' "$name"
        fi
        printf '10 [DLE]\n03 [ETX]\n'
    } >"$WORK/expected.txt"
    check_burst "$WORK/report.txt" "$WORK/expected.txt"
    ;;
*)
    fail "unknown case ${ARGS[0]}"
    ;;
esac
echo "decoded spandsp's burst with every line right"
