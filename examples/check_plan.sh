#!/usr/bin/env bash
# Reads a test plan written by `cidgen --plan NAME DIR` back through cidscan
# and says per file whether the decoder agrees with the manifest:
#   display: a valid message with the same raw bytes was decoded;
#   reject:  no valid message was decoded;
#   either:  anything goes (the condition is outside the standard's limits).
# cidscan --expect DIR/manifest.jsonl DIR/*.wav gives the same verdicts; this
# script reaches them on its own, from cidscan --json and jq.
# Usage: check_plan.sh DIR   (CIDSCAN=path/to/cidscan to choose the decoder)
# Exit status: 0 all agree, 1 a disagreement, 2 a usage or read error.
set -u
dir=${1:?usage: check_plan.sh DIR}
cidscan=${CIDSCAN:-cidscan}
manifest=$dir/manifest.jsonl
command -v jq >/dev/null || { echo "check_plan.sh: jq is needed" >&2; exit 2; }
[ -r "$manifest" ] || { echo "check_plan.sh: no readable manifest.jsonl in the directory" >&2; exit 2; }

agree=0 disagree=0 lines=0
while IFS=$'\t' read -r file expect raw; do
    lines=$((lines + 1))
    # Only plain names from the plan's own directory.
    if ! [[ $file =~ ^[0-9A-Za-z._-]+$ ]] || [[ $file == .* ]]; then
        echo "check_plan.sh: manifest line $lines: unexpected file name" >&2
        exit 2
    fi
    if ! out=$("$cidscan" --json "$dir/$file" 2>/dev/null); then
        echo "check_plan.sh: $file: cidscan failed" >&2
        exit 2
    fi
    valid_raws=$(printf '%s\n' "$out" | jq -r 'select(.valid == true) | .raw')
    case $expect in
        display) if printf '%s\n' "$valid_raws" | grep -qx -- "$raw"; then verdict=agree; else verdict=DISAGREE; fi ;;
        reject) if [ -z "$valid_raws" ]; then verdict=agree; else verdict=DISAGREE; fi ;;
        either) verdict=agree ;;
        *) echo "check_plan.sh: $file: unknown expectation" >&2; exit 2 ;;
    esac
    got=$( [ -n "$valid_raws" ] && echo "decoded" || echo "nothing valid")
    printf '%-8s %-9s %-40s %s\n' "$verdict" "$expect" "$file" "$got"
    if [ "$verdict" = agree ]; then agree=$((agree + 1)); else disagree=$((disagree + 1)); fi
done < <(jq -r '[.file, .expect, .message.raw] | @tsv' "$manifest") || exit 2

[ "$lines" -gt 0 ] || { echo "check_plan.sh: the manifest lists no files" >&2; exit 2; }
echo "$lines files: $agree agree, $disagree disagree"
[ "$disagree" -eq 0 ]
