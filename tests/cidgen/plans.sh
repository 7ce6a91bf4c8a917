#!/usr/bin/env bash
# cidgen --plan end to end: every plan is written into an empty folder, its
# manifest names exactly the files written (each once), and cidscan agrees
# with every "display" and "reject" line (through examples/check_plan.sh,
# which must also catch a manifest that disagrees). A folder that is not
# empty is refused, its files left as they were, unless --force.
# Usage: plans.sh BIN_DIR SOURCE_DIR
set -uo pipefail

BIN=${1:?bin folder}
SRC=${2:?source folder}
command -v jq >/dev/null || { echo "SKIPPED: jq is not installed"; exit 77; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/cidgen-plans.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}
check() { CIDSCAN=$BIN/cidscan bash "$SRC/examples/check_plan.sh" "$1"; }

for plan in gr30 etsi bt ntt dtmf-cid negative; do
    dir=$WORK/$plan
    "$BIN/cidgen" --plan "$plan" "$dir" >/dev/null || { fail "$plan: cidgen --plan failed"; continue; }
    listed=$(jq -r .file "$dir/manifest.jsonl" | sort)
    present=$(cd "$dir" && ls -- *.wav | sort)
    [[ -n $listed && $listed == "$present" ]] || fail "$plan: the manifest and the files differ"
    [[ $(printf '%s\n' "$listed" | uniq -d) == "" ]] || fail "$plan: a file is listed twice"
    jq -se 'all(.[]; has("conditions") and (.message.raw | test("^[0-9a-f]+$")) and (.message.standard | length > 0)
           and (.expect | IN("display", "reject", "either")))' "$dir/manifest.jsonl" >/dev/null ||
        fail "$plan: a manifest line lacks conditions, message or expectation"
    if [[ $plan == negative ]]; then
        jq -se 'all(.[]; .expect == "reject")' "$dir/manifest.jsonl" >/dev/null || fail "negative: a line is not reject"
    else
        jq -se 'any(.[]; .expect == "display")' "$dir/manifest.jsonl" >/dev/null || fail "$plan: no display line"
        jq -se 'any(.[]; .expect == "either")' "$dir/manifest.jsonl" >/dev/null || fail "$plan: no either line"
    fi
    check "$dir" >"$WORK/$plan.out" || { cat "$WORK/$plan.out"; fail "$plan: cidscan disagrees with the manifest"; }
    # cidscan's own --expect comes to the same verdicts.
    "$BIN/cidscan" -j 2 --expect "$dir/manifest.jsonl" "$dir"/*.wav >"$WORK/$plan.expect" ||
        { cat "$WORK/$plan.expect"; fail "$plan: cidscan --expect disagrees"; }
    verdicts() { grep -E '^(agree|DISAGREE) ' | awk '{sub(/:$/, "", $3); n = split($3, p, "/"); print tolower($1), $2, p[n]}' | sort; }
    [[ $(verdicts <"$WORK/$plan.out") == "$(verdicts <"$WORK/$plan.expect")" && -s $WORK/$plan.expect ]] ||
        fail "$plan: check_plan.sh and cidscan --expect differ"
done

# The checker itself: a display file marked reject, and a wrong raw, are caught.
cp -r "$WORK/gr30" "$WORK/wrong"
jq -c 'if .file == "001-nominal.wav" then .expect = "reject" else . end' "$WORK/gr30/manifest.jsonl" \
    >"$WORK/wrong/manifest.jsonl"
check "$WORK/wrong" >/dev/null && fail "check_plan.sh missed a display file marked reject"
"$BIN/cidscan" --expect "$WORK/wrong/manifest.jsonl" "$WORK/wrong"/*.wav >/dev/null
[[ $? -eq 4 ]] || fail "cidscan --expect did not exit 4 on a display file marked reject"
jq -c 'if .file == "002-level-min.wav" then .message.raw = "00" else . end' "$WORK/gr30/manifest.jsonl" \
    >"$WORK/wrong/manifest.jsonl"
check "$WORK/wrong" >/dev/null && fail "check_plan.sh missed a display file with other bytes"

# A folder that is not empty is refused and left alone; --force writes.
mkdir "$WORK/user" && echo keep >"$WORK/user/001-nominal.wav"
"$BIN/cidgen" --plan gr30 "$WORK/user" 2>/dev/null && fail "a folder that is not empty was accepted"
[[ $(cat "$WORK/user/001-nominal.wav") == keep && $(ls "$WORK/user" | wc -l) -eq 1 ]] ||
    fail "a refused folder was changed"
"$BIN/cidgen" --plan gr30 "$WORK/user" --force >/dev/null && check "$WORK/user" >/dev/null ||
    fail "--force: the plan was not written over"
"$BIN/cidgen" --plan nosuch "$WORK/none" 2>/dev/null && fail "an unknown plan was accepted"
[[ -e $WORK/none ]] && fail "an unknown plan made its folder"

[[ $failures -eq 0 ]] && echo "all plan checks passed"
exit $((failures > 0))
