#!/usr/bin/env bash
# The release as a user gets it: two release builds of this tree in two
# folders, compared byte for byte; the zip's contents and SHA256SUMS; a
# signed build with a throwaway certificate; and the installer under Wine
# in a win32 prefix of its own: an older version, the upgrade, the same
# version again, the PATH option, the installed programs, and the
# uninstaller, after which the prefix is as it was.
#
#   release_test.sh SOURCE BUILD   (BUILD: the i686 build, for press_button.exe)
set -uo pipefail
src=$1
i686_build=$2
WINE=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zyr-release-test.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

# Two copies of the tree as it is (committed or not), at different paths.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null || date +%s)
copy_tree() {
    mkdir -p "$1"
    (cd "$src" && git ls-files -z --cached --others --exclude-standard |
        tar --null --ignore-failed-read -cf - -T - 2>/dev/null) | tar -xf - -C "$1"
}
release() {  # release NAME SOURCE [env...]: builds into $work/NAME
    local name=$1 tree=$2; shift 2
    local start=$SECONDS
    env ZYR_RELEASE_BUILD="$work/$name/build" ZYR_DIST="$work/$name/dist" "$@" \
        bash "$tree/scripts/release.sh" >"$work/$name.log" 2>&1 || { cat "$work/$name.log"; return 1; }
    echo "release $name: $((SECONDS - start)) s"
}
copy_tree "$work/a/zyr"
copy_tree "$work/second/folder/source"
release a "$work/a/zyr" || { fail "release a"; exit 1; }
release b "$work/second/folder/source" || { fail "release b"; exit 1; }
version=$(sed -n 's/^#define ZYR_VERSION_STRING "\(.*\)"$/\1/p' "$work/a/build/generated/zyr_version.h")
setup=zyr-$version-win32-setup.exe
zip=zyr-$version-win32.zip
web_zip=zyr-web-$version.zip
dist=$work/a/dist
programs=$work/a/build/unsigned

echo "== two builds, side by side"
paste "$work/a/dist/SHA256SUMS" "$work/b/dist/SHA256SUMS"
check "dist/ holds the four files" test "$(ls "$dist" | tr '\n' ' ')" = "SHA256SUMS $setup $zip $web_zip "
for f in "$dist"/* "$programs"/*; do
    other=$work/b/${f#"$work/a/"}
    check "$f equals its other build" cmp "$f" "$other"
done

echo "== the zip and the checksums"
check "the zip holds exactly the listed files" \
    test "$(unzip -Z1 "$dist/$zip" | tr '\n' ' ')" = "LICENSE.txt README.txt zyr.exe zyrctl.exe "
mkdir -p "$work/unzip" && unzip -q "$dist/$zip" -d "$work/unzip"
check "the zip's zyr.exe is the build's" cmp "$work/unzip/zyr.exe" "$programs/zyr.exe"
check "the zip's zyrctl.exe is the build's" cmp "$work/unzip/zyrctl.exe" "$programs/zyrctl.exe"
for t in README.txt LICENSE.txt; do
    check "$t has Windows line ends only" test "$(grep -c $'\r$' "$work/unzip/$t")" = "$(wc -l <"$work/unzip/$t")"
done
check "README.txt names the version" grep -q "ZYR $version" "$work/unzip/README.txt"
check "README.txt is the one made from the manuals" \
    cmp <(python3 "$src/scripts/user_readme.py" "$version" | sed 's/$/\r/') "$work/unzip/README.txt"
for says in "--wait SECONDS" "Another ZYR program is using the converter" "5  differences" "zyr-$version-win32-setup.exe /S"; do
    check "README.txt says \"$says\"" grep -qF -- "$says" "$work/unzip/README.txt"
done
check "the web zip holds the page's static folder" test "$(unzip -Z1 "$dist/$web_zip" | tr '\n' ' ')" = \
    "zyr-web-$version/LICENSE.txt zyr-web-$version/hid_port.js zyr-web-$version/index.html zyr-web-$version/page.js zyr-web-$version/style.css zyr-web-$version/zyr_core.js "
check "sha256sum -c SHA256SUMS" bash -c "cd '$dist' && sha256sum -c SHA256SUMS"

echo "== signing with a throwaway certificate"
sig=$work/sig && mkdir -p "$sig"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$sig/key.pem" -out "$sig/cert.pem" -days 2 \
    -subj "/CN=ZYR release test" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
openssl pkcs12 -export -inkey "$sig/key.pem" -in "$sig/cert.pem" -out "$sig/test.pfx" -passout pass:throwaway
release signed "$work/a/zyr" ZYR_SIGN_PFX="$sig/test.pfx" ZYR_SIGN_PASSWORD=throwaway || fail "signed release"
signed=$work/signed/build
verify() { osslsigncode verify -CAfile "$sig/cert.pem" -in "$1" >/dev/null 2>&1; }
for f in "$signed/stage/zyr.exe" "$signed/stage/zyrctl.exe" "$signed/uninstall.exe" "$work/signed/dist/$setup"; do
    check "$f passes verify" verify "$f"
done
check "the signed sums hold" bash -c "cd '$work/signed/dist' && sha256sum -c --quiet SHA256SUMS"
for p in zyr.exe zyrctl.exe; do
    osslsigncode remove-signature -in "$signed/stage/$p" -out "$sig/$p" >/dev/null 2>&1
    check "$p without its signature is its unsigned build" cmp "$sig/$p" "$programs/$p"
done
# The uninstaller as NSIS writes it ends off the 8-byte boundary and has no
# PE checksum: signing pads it with zeros, and taking the signature off
# keeps the padding and sets the checksum. All else is the unsigned build.
osslsigncode remove-signature -in "$signed/uninstall.exe" -out "$sig/uninstall.exe" >/dev/null 2>&1
same_but_padding() {
    python3 - "$1" "$2" <<'PY'
import struct, sys
a, b = (bytearray(open(p, "rb").read()) for p in sys.argv[1:3])
pe = struct.unpack_from("<I", b, 0x3C)[0]
for d in (a, b):
    d[pe + 88:pe + 92] = bytes(4)
sys.exit(not (a[:len(b)] == b and not any(a[len(b):]) and len(a) - len(b) < 8))
PY
}
check "uninstall.exe without its signature is its unsigned build (but padding and checksum)" \
    same_but_padding "$sig/uninstall.exe" "$programs/uninstall.exe"
cp "$signed/stage/zyrctl.exe" "$sig/changed.exe"
printf '\x5a' | dd of="$sig/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
check "a program changed by one byte fails verify" test "$(verify "$sig/changed.exe"; echo $?)" != 0

echo "== installer under Wine, in a prefix of its own"
mkdir -p "$WINEPREFIX"
"$WINE" wineboot --init >/dev/null 2>&1
"$WINESERVER" -w
root=$WINEPREFIX/drive_c
installed="$root/Program Files/ZYR"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZYR'
envkey='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
backup="$root/users/Public/Documents/before.zyr"
mkdir -p "$(dirname "$backup")" && echo "format = zyr-backup 1" >"$backup" && cp "$backup" "$work/backup.copy"
# What the prefix holds, without the times Wine stamps into it.
snapshot() {
    "$WINESERVER" -w
    (cd "$root" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o -print | sort)
    # Wine rewrites its devices' keys at each start; they are not the installer's.
    sed -E 's/^(\[.*\]) [0-9]+$/\1/; /^#time=/d' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" |
        awk '/^\[/ { skip = /NetworkCards|\\\\Control\\\\Class\\\\|\\\\Enum\\\\|DeviceClasses|\\\\Control\\\\Video/ } !skip' 
}
path_now() { "$WINE" reg query "$envkey" /v Path 2>/dev/null | tr -d '\r' | sed -n 's/^ *Path *REG_[A-Z_]* *//p'; }
value() { "$WINE" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
entries() { "$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | tr -d '\r' | grep -c '\\ZYR$'; }
install() { "$WINE" "$@" >/dev/null 2>&1; local rc=$?; "$WINESERVER" -w; return $rc; }
snapshot >"$work/before.snapshot"
path_before=$(path_now)

# An older version, built from the same programs with an older version block.
old=1.2.2.1
mkdir -p "$work/old"
cp "$work/a/build/stage/"* "$work/old/"
for p in zyr.exe zyrctl.exe; do check "an older $p" python3 "$src/tests/release/patch_version.py" "$work/old/$p" "$version" "$old"; done
makensis -V1 -INPUTCHARSET UTF8 "-DVERSION=$old" "-DSTAGE=$work/old" "-DICON=$src/app/icon/zyr.ico" \
    "-DOUTFILE=$work/old/setup.exe" "-DSIGN=true" "$src/release/zyr.nsi" >/dev/null || fail "the older installer"
check "the older version installs" install "$work/old/setup.exe" /S
check "the older version's entry" test "$(value DisplayVersion)" = "$old"

check "the upgrade installs" install "$dist/$setup" /S
check "the same version again installs" install "$dist/$setup" /S
check "the same version with the PATH option installs" install "$dist/$setup" /S /ADDTOPATH
check "one entry in the installed programs" test "$(entries)" = 1

echo "installed files:" && (cd "$installed" && ls -l --time-style=+%F | sed 1d)
check "the install folder holds exactly the installed files" \
    test "$(ls "$installed" | tr '\n' ' ')" = "LICENSE.txt README.txt uninstall.exe zyr.exe zyrctl.exe "
for p in zyr.exe zyrctl.exe README.txt LICENSE.txt; do
    check "the installed $p is the new one" cmp "$installed/$p" "$work/a/build/stage/$p"
done
check "the installed uninstaller is the build's" cmp "$installed/uninstall.exe" "$work/a/build/uninstall.exe"
lnk="$root/ProgramData/Microsoft/Windows/Start Menu/Programs/ZYR.lnk"
check "the Start-menu shortcut" test -f "$lnk"

echo "uninstall entry:" && "$WINE" reg query "$key" 2>/dev/null | tr -d '\r'
dir='C:\Program Files\ZYR'
for row in "DisplayName=ZYR" "DisplayVersion=$version" "Publisher=Brantix" "DisplayIcon=$dir\\zyr.exe" \
    "UninstallString=\"$dir\\uninstall.exe\"" "QuietUninstallString=\"$dir\\uninstall.exe\" /S" \
    "NoModify=0x1" "NoRepair=0x1" "InstallLocation=$dir" "PathAdded=0x1"; do
    check "uninstall entry $row" test "$(value "${row%%=*}")" = "${row#*=}"
done
size=$(value EstimatedSize)
bytes=$(cat "$installed"/* | wc -c)
check "EstimatedSize in KB ($size, files $bytes bytes)" test $(( bytes - (size) * 1024 )) -lt 8192 -a $(( (size) * 1024 - bytes )) -lt 8192

check "the PATH gained exactly the install folder" test "$(path_now)" = "$path_before;$dir"
out=$("$WINE" "$installed/zyrctl.exe" --version 2>&1 | tr -d '\r'); rc=$?
check "the installed zyrctl --version ($out, exit $rc)" test "$out.$rc" = "zyrctl $version.0"
out=$("$WINE" cmd /c "cd /d C:\\ && zyrctl --version" 2>&1 | tr -d '\r')
check "a new console finds zyrctl on the PATH ($out)" test "$out" = "zyrctl $version"

# The installed dialog starts and answers Read Device: the real Win32
# binding finds no converter in this prefix.
"$WINE" "$installed/zyr.exe" >/dev/null 2>&1 &
dialog=$!
# Its controls may not be there yet when its window is first found.
for _ in 1 2 3 4 5; do
    status=$("$WINE" "$i686_build/tools/press_button.exe" "Brantix ZYR" 1019 1005 \
        " USB device not found" 30000 1019 2>&1 | tr -d '\r') && break
    sleep 1
done
check "the installed dialog shows and looks for the converter ($status)" test "$status" = " USB device not found"
echo "installed dialog after Read Device:$status"
kill "$dialog" 2>/dev/null; wait "$dialog" 2>/dev/null
"$WINESERVER" -k; "$WINESERVER" -w

check "the uninstaller runs" install "$installed/uninstall.exe" /S
check "the install folder is gone" test ! -e "$installed"
check "the shortcut is gone" test ! -e "$lnk"
check "the uninstall entry is gone" test "$(entries)" = 0
check "the PATH is as it was" test "$(path_now)" = "$path_before"
check "the user's backup is untouched" cmp "$backup" "$work/backup.copy"
snapshot >"$work/after.snapshot"
check "the prefix is as before the first install" diff "$work/before.snapshot" "$work/after.snapshot"

if [ "$failures" -gt 0 ]; then echo "$failures release checks failed" >&2; exit 1; fi
echo "all release checks passed"
