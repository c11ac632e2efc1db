#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file and script of the project names its licence: C++ files and CMake files in
# their first line, scripts in the line after the shebang. Lists the files that do not.
# Usage: licence_lines.sh SOURCE_DIR
set -eu
cd "$1"

# The files of the checkout, new ones not yet added included; without git, every file outside
# the build folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard
else
    find . -type f ! -path './.git/*' ! -path './build*' -print0
fi | xargs -0 awk -v spdx='SPDX-License-Identifier: GPL-3.0-or-later' '
    FNR == 1 {
        name = FILENAME
        sub(/^\.\//, "", name)
        at = 1
        if (name ~ /\.(cpp|cc|h|hpp)$/) want = "// " spdx
        else if (name ~ /(^|\/)CMakeLists\.txt$|\.cmake$/) want = "# " spdx
        else if ($0 ~ /^#!/) { want = "# " spdx; at = 2; next }
        else if (name ~ /\.(sh|py)$/) want = "# " spdx
        else nextfile
    }
    FNR == at {
        if ($0 != want) {
            printf "%s: line %d is not \"%s\"\n", name, at, want
            bad = 1
        }
        nextfile
    }
    END { exit bad }'
