#!/usr/bin/env bash
# spandsp's receivers decode cidgen's messages, plain and impaired, and drop
# those whose checksum cidgen spoiled.
#   KIND [CIDGEN OPTION...]   KIND: sdmf, mdmf, mdmf-absent, vmwi (CLASS receiver),
#                             etsi, etsi-absent, etsi-latin1 (CLIP receiver), dtmf (CLIP_DTMF
#                             receiver), ntt (JCLIP receiver); the options go to cidgen as they are
#                             (--rate other than 8000: sox resamples for spandsp);
#                             resend-mdmf, resend-clip, resend-dtmf: spandsp's own
#                             burst through cidscan --json and cidgen --from-json
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_spandsp
need_program cidgen
kind=${ARGS[0]}
extra=("${ARGS[@]:1}")
rate=8000
for ((i = 0; i < ${#extra[@]}; i++)); do
    [[ ${extra[$i]} == --rate ]] && rate=${extra[$((i + 1))]}
done
bad=no
for opt in "${extra[@]}"; do [[ $opt == --bad-checksum ]] && bad=yes; done

when=(--date 03-14 --time 15:09)
case $kind in
sdmf)
    args=(--standard us-sdmf "${when[@]}" --number 6175550123)
    expected=$'date 03141509\nnumber 6175550123'
    receiver=recv-us
    ;;
mdmf)
    args=(--standard us-mdmf "${when[@]}" --number 6175550123 --name "SMITH J")
    expected=$'date 03141509\nnumber 6175550123\nname SMITH J'
    receiver=recv-us
    ;;
mdmf-absent)
    args=(--standard us-mdmf "${when[@]}" --number-absent private --name-absent unavailable)
    expected=$'date 03141509\nnumber-absence P\nname-absence O'
    receiver=recv-us
    ;;
vmwi)
    args=(--standard us-vmwi --message-waiting on)
    expected='field 00 424242'
    receiver=recv-us
    ;;
etsi)
    args=(--standard etsi "${when[@]}" --number 01632960123 --name "JONES A")
    expected=$'date 03141509\nnumber 01632960123\nname JONES A'
    receiver=recv-clip
    ;;
etsi-latin1)
    # A UTF-8 name goes out in Latin-1, one byte a character.
    args=(--standard etsi "${when[@]}" --number 01632960123 --name "Müller ©")
    expected=$'date 03141509\nnumber 01632960123\nname M\xfcller \xa9'
    receiver=recv-clip
    ;;
etsi-absent)
    args=(--standard etsi "${when[@]}" --number-absent unavailable --name-absent private)
    expected=$'date 03141509\nnumber-absence O\nname-absence P'
    receiver=recv-clip
    ;;
resend-mdmf | resend-clip | resend-dtmf)
    # spandsp's own burst, decoded by cidscan and sent again by cidgen from
    # cidscan's JSON: spandsp's receiver must find the same message in both.
    need_program cidscan
    case $kind in
    resend-mdmf) "$CIDPEER" send-mdmf "$WORK/peer.wav" seizure 01=03141509 02=6175550123 "07=SMITH J"; receiver=recv-us ;;
    resend-clip) "$CIDPEER" send-clip "$WORK/peer.wav" 03141509 01632960123 "JONES A"; receiver=recv-clip ;;
    resend-dtmf) "$CIDPEER" send-dtmf "$WORK/peer.wav" A0123456789C; receiver=recv-dtmf ;;
    esac
    "$CIDPEER" "$receiver" "$WORK/peer.wav" >"$WORK/peer-rx.txt"
    "$BIN_DIR/cidscan" --json "$WORK/peer.wav" >"$WORK/peer.json"
    "$BIN_DIR/cidgen" --from-json "$WORK/peer.json" "${extra[@]}" -o "$WORK/again.wav" 2>"$WORK/cidgen.log" ||
        fail "cidgen failed: $(cat "$WORK/cidgen.log")"
    "$CIDPEER" "$receiver" "$WORK/again.wav" >"$WORK/again-rx.txt"
    grep -q '^message' "$WORK/peer-rx.txt" || fail "spandsp did not decode its own burst"
    diff -u "$WORK/peer-rx.txt" "$WORK/again-rx.txt" || fail "spandsp decoded the burst sent again differently"
    echo "spandsp decoded the message sent again exactly as its own"
    exit 0
    ;;
ntt)
    # The name in JIS X 0208: 山田 is 3B33 4544.
    args=(--standard ntt --number 0312345678 --name 山田)
    expected=$'number 0312345678\nname 3b334544'
    receiver=recv-jp
    ;;
dtmf)
    args=(--standard dtmf-cid --number 0123456789 --redirecting 0198765432)
    expected='digits A0123456789D0198765432C'
    receiver=recv-dtmf
    ;;
*)
    fail "unknown case $kind"
    ;;
esac

"$BIN_DIR/cidgen" "${args[@]}" "${extra[@]}" -o "$WORK/burst.wav" 2>"$WORK/cidgen.log" ||
    fail "cidgen failed: $(cat "$WORK/cidgen.log")"
input=$WORK/burst.wav
if ((rate != 8000)); then
    need_command sox
    sox "$WORK/burst.wav" -r 8000 -b 16 "$WORK/burst8k.wav"
    input=$WORK/burst8k.wav
fi
"$CIDPEER" "$receiver" "$input" >"$WORK/rx.txt"
count=$(grep -a -c '^message' "$WORK/rx.txt" || true)
if [[ $bad == yes ]]; then
    ((count == 0)) || fail "spandsp delivered a message whose check cidgen spoiled: $(cat "$WORK/rx.txt")"
    echo "spandsp dropped the spoiled message"
    exit 0
fi
((count == 1)) || fail "spandsp delivered $count messages: $(cat "$WORK/rx.txt")"
got=$(grep -a -v -e '^message' -e '^end' "$WORK/rx.txt")
if [[ $got != "$expected" ]]; then
    diff -u <(echo "$expected") <(echo "$got") || true
    fail "spandsp did not decode the fields as sent"
fi
echo "spandsp decoded the message, fields right"
