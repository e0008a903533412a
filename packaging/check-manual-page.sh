#!/bin/sh
# Fails when a program's manual page and its --help disagree on what can be given to it: every
# long option that --help lists must have an entry in the page's OPTIONS section and every entry
# there must be an option --help lists; every VELTRACE_* variable --help names must be in the page.
#   packaging/check-manual-page.sh PROGRAM PAGE
set -eu
program=$1
page=$2

help=$("$program" --help)
help_options=$(printf '%s\n' "$help" | grep -oE -- '--[a-z][a-z-]*' | sort -u)

# The tags of the OPTIONS section: the line after each .TP, with roff's \- and fonts taken off.
page_options=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" |
    sed -n '/^\.TP/{n;p;}' | sed 's/\\-/-/g' |
    grep -oE -- '--[a-z][a-z-]*' | sort -u)

status=0
for option in $help_options; do
    if ! printf '%s\n' "$page_options" | grep -qx -- "$option"; then
        echo "$page: $option of '$(basename "$program") --help' has no entry under OPTIONS" >&2
        status=1
    fi
done
for option in $page_options; do
    if ! printf '%s\n' "$help_options" | grep -qx -- "$option"; then
        echo "$page: OPTIONS describes $option, which '$(basename "$program") --help' does not list" >&2
        status=1
    fi
done
for variable in $(printf '%s\n' "$help" | grep -oE 'VELTRACE_[A-Z_]*[A-Z]' | sort -u); do
    if ! grep -q "$variable" "$page"; then
        echo "$page: $variable, named by --help, is not in the page" >&2
        status=1
    fi
done
if [ -z "$help_options" ]; then
    echo "$(basename "$program") --help lists no option: is it the right program?" >&2
    status=1
fi
if [ "$status" -eq 0 ]; then
    echo "$page agrees with --help on $(printf '%s\n' "$help_options" | wc -l) options"
fi
exit "$status"
