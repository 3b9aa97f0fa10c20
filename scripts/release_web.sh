#!/usr/bin/env bash
# The page as a release file: builds it with emscripten in a fresh folder
# and packs the static folder as zyr-web-VERSION.zip, the same bytes for the
# same commit wherever and whenever it is made (the dates are
# SOURCE_DATE_EPOCH's, the entries sorted, no extra fields). Called by
# release.sh; prints the zip's file name as its last line.
#
#   bash scripts/release_web.sh BUILD_FOLDER DIST_FOLDER VERSION
set -euo pipefail
source "$(dirname "$0")/env.sh"

build=$1
dist=$2
version=$3
: "${SOURCE_DATE_EPOCH:?the release date (SOURCE_DATE_EPOCH) must be set}"

type zyr_apt_install >/dev/null 2>&1 || zyr_apt_install() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends --no-remove "$@" >/dev/null
}
dpkg-query -W -f='${Status}' emscripten 2>/dev/null | grep -q 'install ok installed' || zyr_apt_install emscripten >&2
# Debian's emscripten finds its JavaScript optimiser (node-acorn) through
# NODE_PATH when node is not Debian's own.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

rm -rf "$build"
emcmake cmake -S "$ZYR_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$ZYR_JOBS" >/dev/null

name=zyr-web-$version
stage=$build/stage/$name
mkdir -p "$stage"
cp "$build/page/"{index.html,hid_port.js,page.js,style.css,zyr_core.js} "$stage/"
cp "$ZYR_ROOT/LICENSE" "$stage/LICENSE.txt"
find "$build/stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
chmod 755 "$stage"
chmod 644 "$stage"/*

zip=$name.zip
rm -f "$dist/$zip"
mkdir -p "$dist"
(cd "$build/stage" && find "$name" | LC_ALL=C sort | TZ=UTC zip -X -D -q "$build/$zip" -@)
mv "$build/$zip" "$dist/$zip"
echo "$zip"
