#!/usr/bin/env bash
# Holds the layering rules of docs/architecture.md:
#   - a file may include (with #include "folder/...") only its own folder and the folders that
#     its folder's README.md lists on its "May include:" line ("nothing" or "anything" allowed);
#   - outside the toolkit's Qt backend (toolkit/qt_*) no source file of the program includes a
#     Qt header.
# Prints every breach and exits 1 if there is any. Usage: scripts/check-includes.sh
set -euo pipefail
cd "$(dirname "$0")/.."

failures=0
report() {
    echo "check-includes: $*" >&2
    failures=$((failures + 1))
}

for readme in */README.md; do
    folder=${readme%/README.md}
    rule=$(sed -n 's/^May include: *//p' "$readme" | head -n 1)
    if [ -z "$rule" ]; then
        report "$readme has no 'May include:' line"
        continue
    fi
    if [ "$rule" = anything ]; then
        continue
    fi
    allowed=" $folder "
    if [ "$rule" != nothing ]; then
        allowed+="$(echo "$rule" | tr ',' ' ') "
    fi
    while IFS= read -r -d '' file; do
        while IFS= read -r line; do
            target=$(echo "$line" | sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"/]*\)\/.*/\1/p')
            if [ -n "$target" ] && [[ "$allowed" != *" $target "* ]]; then
                report "$file includes $target/ ($line), which $readme does not allow"
            fi
        done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
        case "$file" in
        toolkit/qt_*) ;;
        *)
            if grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
                report "$file includes a Qt header; only toolkit/qt_* may"
            fi
            ;;
        esac
    done < <(find "$folder" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
done

if [ "$failures" -gt 0 ]; then
    echo "check-includes: $failures breach(es) of the layering rules" >&2
    exit 1
fi
echo "check-includes: every include keeps to its folder's rules"
