#!/usr/bin/env bash
# The release, from a fresh build folder: the shipped i686 programs
# (zyr.exe and zyrctl.exe, bound to Win32) and, in dist/,
#   zyr-VERSION-win32-setup.exe   the installer
#   zyr-VERSION-win32.zip         the portable form, with README.txt and LICENSE.txt
#   zyr-web-VERSION.zip           the page, a static folder (scripts/release_web.sh)
#   SHA256SUMS                    all three, as sha256sum -c reads them
# The same commit gives the same bytes in any folder and at any time: the
# dates are the commit's (SOURCE_DATE_EPOCH). With ZYR_SIGN_PFX (and
# ZYR_SIGN_PASSWORD, ZYR_SIGN_TIMESTAMP_URL) the programs, the uninstaller
# and the installer are signed before the checksums are taken.
#
#   ZYR_RELEASE_BUILD  the build folder, emptied first (default build/release)
#   ZYR_DIST           where the three files go (default dist)
set -euo pipefail
source "$(dirname "$0")/env.sh"

build=${ZYR_RELEASE_BUILD:-$ZYR_BUILD/release}
dist=${ZYR_DIST:-$ZYR_ROOT/dist}

zyr_install_packages

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if ! SOURCE_DATE_EPOCH=$(git -C "$ZYR_ROOT" log -1 --format=%ct 2>/dev/null); then
        echo "$ZYR_ROOT is not a git checkout: set SOURCE_DATE_EPOCH to date the release" >&2
        exit 2
    fi
    if [ -n "$(git -C "$ZYR_ROOT" status --porcelain --untracked-files=no)" ]; then
        echo "Note: the tree has changes that are not committed; this release is not of commit $(git -C "$ZYR_ROOT" rev-parse --short HEAD)"
    fi
fi
export SOURCE_DATE_EPOCH
if [ -z "${ZYR_SIGN_PFX:-}" ]; then
    echo "No ZYR_SIGN_PFX given: the release is not signed"
elif [ ! -r "$ZYR_SIGN_PFX" ]; then
    echo "ZYR_SIGN_PFX: cannot read $ZYR_SIGN_PFX" >&2
    exit 2
fi

echo "== release build (i686, zyr.exe and zyrctl.exe) in $build"
rm -rf "$build"
# Linked without a symbol table (-s): a smaller program that ends where its
# last section does, so a signature, appended there, comes off cleanly.
cmake -S "$ZYR_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ZYR_ROOT/cmake/mingw-i686.cmake" -DZYR_WERROR=ON \
    -DCMAKE_EXE_LINKER_FLAGS=-s >/dev/null
cmake --build "$build" -j "$ZYR_JOBS" --target zyr zyrctl >/dev/null
version=$(sed -n 's/^#define ZYR_VERSION_STRING "\(.*\)"$/\1/p' "$build/generated/zyr_version.h")
setup=zyr-$version-win32-setup.exe
zip=zyr-$version-win32.zip

# unsigned/: the programs as built, for comparing; stage/: what ships (and
# the uninstaller as the installer holds it, beside them in the build folder).
unsigned=$build/unsigned
stage=$build/stage
mkdir -p "$unsigned" "$stage" "$dist"
sign=$ZYR_ROOT/release/sign.sh
for program in zyr.exe zyrctl.exe; do
    cp "$build/app/$program" "$stage/"
    bash "$sign" "$stage/$program" "$unsigned/$program"
done
# The user's README, made from the manuals (scripts/user_readme.py).
python3 "$ZYR_ROOT/scripts/user_readme.py" "$version" | sed 's/$/\r/' >"$stage/README.txt"
sed 's/$/\r/' "$ZYR_ROOT/LICENSE" >"$stage/LICENSE.txt"
files=(LICENSE.txt README.txt zyr.exe zyrctl.exe)
for f in "${files[@]}"; do
    chmod 644 "$stage/$f"
    touch -d "@$SOURCE_DATE_EPOCH" "$stage/$f"
done

web_zip=zyr-web-$version.zip
rm -f "$dist/$setup" "$dist/$zip" "$dist/$web_zip" "$dist/SHA256SUMS"
echo "== installer"
makensis -V2 -INPUTCHARSET UTF8 "-DVERSION=$version" "-DSTAGE=$stage" \
    "-DICON=$ZYR_ROOT/app/icon/zyr.ico" "-DOUTFILE=$build/$setup" \
    "-DSIGN=bash \"$sign\" \"%1\" \"$unsigned/uninstall.exe\" \"$build/uninstall.exe\"" "$ZYR_ROOT/release/zyr.nsi" >/dev/null
bash "$sign" "$build/$setup" "$unsigned/$setup"
mv "$build/$setup" "$dist/$setup"

echo "== zip"
(cd "$stage" && TZ=UTC zip -X -D -q "$build/$zip" "${files[@]}")
mv "$build/$zip" "$dist/$zip"

echo "== web page"
bash "$ZYR_ROOT/scripts/release_web.sh" "$build-web" "$dist" "$version" >/dev/null

(cd "$dist" && sha256sum "$setup" "$zip" "$web_zip" >SHA256SUMS)
echo "== release $version in $dist:"
(cd "$dist" && ls -l "$setup" "$zip" "$web_zip" SHA256SUMS && cat SHA256SUMS)
