#!/usr/bin/env bash
# The cidscan examples of README.md and of the manual page print what cidscan
# prints. In README.md every "$ cidscan ..." line of a ```sh block is run from
# the source folder and the lines after it, up to the next "$ " line or the
# block's end, are its expected output. The manual page's TEXT OUTPUT block is
# the text output of the file its heading names.
#   readme_examples.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin=${1:?bin folder}
src=${2:?source folder}
[[ -x $bin/cidscan ]] || { echo "SKIPPED: cidscan is not built"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/cidscan-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$src"

# Splits README.md into work/N.cmd (the command after "$ ") and work/N.out.
awk -v dir="$work" '
    /^```sh$/ { inblock = 1; next }
    /^```/    { inblock = 0; cur = ""; next }
    inblock && /^\$ cidscan / { n++; cur = dir "/" n; print substr($0, 3) > (cur ".cmd"); printf "" > (cur ".out"); next }
    inblock && /^\$ / { cur = ""; next }
    inblock && cur != "" { print > (cur ".out") }
' README.md

# The manual page's example block, roff escapes undone.
awk '/^\.SH TEXT OUTPUT/ { sec = 1 } sec && /^\.nf/ { on = 1; next } sec && /^\.fi/ { exit } on { print }' \
    man/cidscan.1 | sed -e 's/\\e/\\/g' -e 's/\\-/-/g' >"$work/man.out"
if [[ -s $work/man.out ]]; then
    printf 'cidscan %s\n' "$(head -n 1 "$work/man.out" | cut -d' ' -f1)" >"$work/man.cmd"
    printf '\n' >>"$work/man.out"  # the block's blank line ends the roff example
fi

status=0
count=0
for cmd in "$work"/*.cmd; do
    [[ -e $cmd ]] || break
    base=${cmd%.cmd}
    expected=$base.out
    # The example's output ends with the blank line that separates it from the next one.
    sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' "$expected" >"$base.want"
    read -r -a words <"$cmd"
    "$bin/${words[0]}" "${words[@]:1}" 2>&1 | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' >"$base.got" || true
    count=$((count + 1))
    if ! diff -u "$base.want" "$base.got" >"$base.diff"; then
        echo "FAILED: the documented output of '$(cat "$cmd")' is not what cidscan prints"
        echo "(- documented, + printed now; update README.md or man/cidscan.1 if the change is meant)"
        cat "$base.diff"
        status=1
    fi
done
[[ $count -ge 2 ]] || { echo "FAILED: found only $count cidscan examples to check"; exit 1; }
[[ $status -eq 0 ]] && echo "all $count cidscan examples print what is documented"
exit $status
