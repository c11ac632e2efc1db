#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file and script of the project names its licence: C++ files and CMake files in
# their first line, scripts in the line after the shebang. Lists the files that do not.
# Usage: licence_lines.sh SOURCE_DIR
set -eu
cd "$1"
line='SPDX-License-Identifier: GPL-3.0-or-later'

# The files of the checkout, including new ones not yet added; without git, every file outside
# the build folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files=$(git ls-files --cached --others --exclude-standard)
else
    files=$(find . -type f ! -path './.git/*' ! -path './build*' | sed 's|^\./||')
fi

status=0
printf '%s\n' "$files" | {
    while IFS= read -r f; do
        [ -f "$f" ] || continue
        case $f in
        *.cpp | *.h | *.hpp | *.cc) want="// $line" at=1 ;;
        CMakeLists.txt | */CMakeLists.txt | *.cmake) want="# $line" at=1 ;;
        *)
            if [ "$(head -c 2 "$f")" = '#!' ]; then
                want="# $line" at=2
            else
                case $f in
                *.sh | *.py) want="# $line" at=1 ;;
                *) continue ;;
                esac
            fi
            ;;
        esac
        if [ "$(sed -n "${at}p" "$f")" != "$want" ]; then
            echo "$f: line $at is not \"$want\""
            status=1
        fi
    done
    exit $status
}
