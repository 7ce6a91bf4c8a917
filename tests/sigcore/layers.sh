#!/usr/bin/env bash
# The library's layers, lowest first: a file in one layer may include headers
# of its own layer and of the layers before it, never of a later one, and
# never a program's header. Prints every include that breaks the rule.
# Usage: layers.sh SIGCORE_SOURCE_DIR
set -euo pipefail

root=${1:?usage: layers.sh SIGCORE_SOURCE_DIR}
layers=(io dsp messages receivers measure report)

rank_of() {
    local i
    for i in "${!layers[@]}"; do
        [[ ${layers[$i]} == "$1" ]] && { echo "$i"; return; }
    done
    echo -1
}

status=0
checked=0
for layer in "${layers[@]}"; do
    own=$(rank_of "$layer")
    for file in "$root/$layer"/*.hpp "$root/$layer"/*.cpp "$root/$layer"/*.hpp.in; do
        [[ -e $file ]] || continue
        checked=$((checked + 1))
        while IFS=: read -r line target; do
            if [[ $target =~ ^sigcore/([a-z]+)/[A-Za-z0-9_]+\.hpp$ ]]; then
                used=$(rank_of "${BASH_REMATCH[1]}")
                if ((used < 0 || used > own)); then
                    echo "${file#"$root"/}:$line: $layer includes $target, a later layer" >&2
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

# A file straight in the library's folder belongs to no layer.
for file in "$root"/*.hpp "$root"/*.cpp; do
    [[ -e $file ]] || continue
    echo "${file#"$root"/}: outside every layer folder" >&2
    status=1
done

((checked > 0)) || { echo "no library files under $root" >&2; exit 1; }
((status == 0)) && echo "layers: $checked files, every include points to its own layer or a lower one"
exit "$status"
