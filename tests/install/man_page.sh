#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The manual page as man shows it: every option that --help lists is in its OPTIONS section, with
# its argument, and man formats it without a warning.
# Usage: man_page.sh KELVANO PAGE
set -u
kelvano=$1 page=$2
. "$(dirname "$0")/../lib.sh"
text=$(LC_ALL=C.UTF-8 MANWIDTH=1000 man --warnings -E UTF-8 -l "$page" 2>"$work/warnings" |
    sed -n '/^OPTIONS$/,/^[A-Z]/p')
[ -s "$work/warnings" ] && fail "man warns about $page: $(cat "$work/warnings")"

# The options column of --help: "-h, --help", "--replay <file>"; it ends at two spaces.
options=$("$kelvano" --help | sed -nE 's/^ +(-([^ ]| [^ ])*)( {2,}.*)?$/\1/p')
case $options in
*--help* | *--version*) ;;
*) printf 'no options found in --help:\n%s\n' "$("$kelvano" --help 2>&1)"; exit 1 ;;
esac
printf '%s\n' "$options" >"$work/options"
while IFS= read -r option; do
    printf '%s\n' "$text" | grep -qF -- "$option" || fail "no \"$option\" among the options of the manual page"
done <"$work/options"
exit $failed
