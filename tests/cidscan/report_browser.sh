#!/usr/bin/env bash
# cidscan --report in a real browser: two bursts made with cidgen (one in
# the gr30 limits, one with its mark 30 Hz high) are scanned with --measure
# --check gr30 --json --report; headless Chromium loads the page with no
# console message, and the number, name, mark frequency and check verdict it
# rendered for each message are those of the JSON lines.
#   report_browser.sh BIN_DIR
# Skips (77) without chromium or jq, unless CI=true, where that fails.
set -euo pipefail
bin=${1:?bin folder}

missing() {
    if [[ ${CI:-} == true ]]; then
        echo "FAIL: $1 is needed in continuous integration" >&2
        exit 1
    fi
    echo "SKIPPED: $1 is not installed"
    exit 77
}
browser=$(command -v chromium || command -v chromium-browser || true)
[[ -n $browser ]] || missing chromium
command -v jq >/dev/null || missing jq
[[ -x $bin/cidscan && -x $bin/cidgen ]] || { echo "SKIPPED: cidscan or cidgen is not built"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/cidscan-report.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$bin/cidgen" --standard us-mdmf --number 5551234567 --name 'SMITH & <JONES>' --date 01-02 --time 03:04 \
    --sequence us-onhook -o good.wav
"$bin/cidgen" --standard us-mdmf --number 2125550000 --name 'DOE JANE' --date 05-06 --time 07:08 \
    --mark-offset 30 -o high.wav
status=0
"$bin/cidscan" --measure --check gr30 --json --report r.html good.wav high.wav >out.json || status=$?
[[ $status -eq 3 ]] || fail "cidscan exited with $status, not 3 (a failed check)"
# The messages; the line signals around good.wav's burst (its rings) come too.
jq -c 'select(.standard)' out.json >messages.json
[[ $(wc -l <messages.json) -eq 2 ]] || fail "expected 2 messages: $(cat out.json)"
[[ $(jq -c 'select(.signal)' out.json | wc -l) -eq 2 ]] || fail "expected 2 rings: $(cat out.json)"
[[ -s r.html ]] || fail "no report written"

# The browser: its own profile here, no network needed, at most a minute.
run_browser() {
    timeout 60 "$browser" --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir="$work/profile" \
        --enable-logging=stderr --v=0 "$@" "file://$work/r.html"
}
run_browser --dump-dom >dom.html 2>browser.log || fail "chromium --dump-dom failed: $(tail -5 browser.log)"
if grep -q 'CONSOLE' browser.log; then
    fail "the page logged to the console: $(grep 'CONSOLE' browser.log)"
fi
run_browser --screenshot="$work/page.png" --window-size=1100,1400 >/dev/null 2>>browser.log ||
    fail "chromium --screenshot failed"
[[ $(stat -c %s page.png) -gt 10000 ]] || fail "the screenshot is empty"

# The values the browser's document holds, in page order (file order here).
rendered() { # ATTRIBUTE KEY: the text of every cell marked ATTRIBUTE="KEY"
    grep -o "$1=\"$2\">[^<]*" dom.html | sed 's/^[^>]*>//' | sed 's/&amp;/\&/g; s/&lt;/</g; s/&gt;/>/g' |
        jq -R . | jq -s -c .
}
same() { # WHAT RENDERED EXPECTED (JSON arrays)
    jq -e -n --argjson a "$2" --argjson b "$3" '$a == $b' >/dev/null || fail "$1: page $2, JSON $3"
}
same number "$(rendered data-field number)" "$(jq -s -c '[.[].fields.number]' messages.json)"
same name "$(rendered data-field name)" "$(jq -s -c '[.[].fields.name]' messages.json)"
same mark_hz "$(rendered data-measure mark_hz | jq -c 'map(tonumber)')" "$(jq -s -c '[.[].measure.mark_hz]' messages.json)"
verdicts=$(grep -o '<p class="check">check gr30: <span class="[a-z]*">[A-Z]*' dom.html | sed 's/.*>//' |
    jq -R . | jq -s -c .)
same "check verdict" "$verdicts" "$(jq -s -c '[.[].check.pass | if . then "PASS" else "FAIL" end]' messages.json)"
same "mark_hz check" "$(grep -o 'data-check="name">mark_hz</td><td class="num" data-check="value">[^<]*' dom.html |
    sed 's/.*>//' | jq -R 'tonumber' | jq -s -c .)" \
    "$(jq -s -c '[.[].check.items[] | select(.name == "mark_hz") | .value]' messages.json)"
# The diagrams were parsed as SVG: a seizure box and two level lines at least.
grep -q '<g class="seizure">' dom.html || fail "no seizure box in the diagram"
[[ $(grep -c '<polyline class="\(mark\|space\)"' dom.html) -ge 4 ]] || fail "missing level lines"
echo "PASS: the page renders and shows the JSON's values"
