#!/usr/bin/env bash
# The library's layers, lowest first, each with the layers it may use: a file
# includes headers of its own layer and of those only, never of a later
# layer nor a program's header. Prints every include that breaks the rule.
# Usage: layers.sh SIGCORE_SOURCE_DIR
set -euo pipefail

root=${1:?usage: layers.sh SIGCORE_SOURCE_DIR}
layers=(io dsp messages senders receivers measure report)
declare -A may_use=(
    [io]=""
    [dsp]="io"
    [messages]="io dsp"
    [senders]="io dsp messages"
    [receivers]="io dsp messages"
    [measure]="io dsp messages receivers"
    [report]="io dsp messages receivers"
)

# allowed LAYER USED: whether a file of LAYER may include a header of USED.
allowed() {
    [[ $1 == "$2" ]] && return 0
    [[ " ${may_use[$1]} " == *" $2 "* ]]
}

status=0
checked=0
for layer in "${layers[@]}"; do
    for file in "$root/$layer"/*.hpp "$root/$layer"/*.cpp "$root/$layer"/*.hpp.in; do
        [[ -e $file ]] || continue
        checked=$((checked + 1))
        while IFS=: read -r line target; do
            if [[ $target =~ ^sigcore/([a-z]+)/[A-Za-z0-9_]+\.hpp$ ]]; then
                if ! allowed "$layer" "${BASH_REMATCH[1]}"; then
                    echo "${file#"$root"/}:$line: $layer includes $target, a layer it may not use" >&2
                    status=1
                fi
            else
                echo "${file#"$root"/}:$line: $layer includes $target, outside the library's layers" >&2
                status=1
            fi
        done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
                 sed -E 's/^([0-9]+):.*"([^"]+)".*/\1:\2/')
    done
done

# A file straight in the library's folder, or in a folder missing from the
# table, belongs to no layer.
for file in "$root"/*.hpp "$root"/*.cpp; do
    [[ -e $file ]] || continue
    echo "${file#"$root"/}: outside every layer folder" >&2
    status=1
done
for dir in "$root"/*/; do
    [[ -v may_use[$(basename "$dir")] ]] && continue
    echo "$(basename "$dir")/: a folder that is no layer of the table" >&2
    status=1
done

((checked > 0)) || { echo "no library files under $root" >&2; exit 1; }
((status == 0)) && echo "layers: $checked files, every include points to its own layer or one it may use"
exit "$status"
