#!/bin/sh
# What `cmake --install` puts where, and that the menu entry, icons and metainfo agree.
# Usage: install_layout.sh BUILD_DIR VERSION
set -eu
build=$1 version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

id=io.github.corvanta.Kelvano
expected="bin/kelvano
share/applications/$id.desktop"
for size in 16 22 24 32 48 64 128 256; do
    expected="$expected
share/icons/hicolor/${size}x$size/apps/$id.png"
done
expected="$expected
share/icons/hicolor/scalable/apps/$id.svg
share/metainfo/$id.metainfo.xml"
actual=$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
expected=$(printf '%s\n' "$expected" | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
    printf 'installed files:\n%s\nexpected:\n%s\n' "$actual" "$expected"
    exit 1
fi

desktop=$prefix/share/applications/$id.desktop
grep -qxF "Icon=$id" "$desktop" || { echo "the menu entry names another icon"; exit 1; }
grep -qxF "Exec=kelvano" "$desktop" || { echo "the menu entry starts another program"; exit 1; }
grep -qF "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
    { echo "the metainfo does not give release $version"; exit 1; }
for size in 16 48 256; do
    file "$prefix/share/icons/hicolor/${size}x$size/apps/$id.png" | grep -qF "$size x $size" ||
        { echo "the ${size}x$size icon has another size"; exit 1; }
done
