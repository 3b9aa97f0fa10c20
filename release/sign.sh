#!/usr/bin/env bash
# sign.sh FILE [COPY [RESULT]]: keeps FILE as it is in COPY (when given),
# signs FILE in place with Authenticode (SHA-256) when ZYR_SIGN_PFX names a
# code-signing certificate (ZYR_SIGN_PASSWORD its password), time-stamped
# when ZYR_SIGN_TIMESTAMP_URL names an RFC 3161 server, and copies the
# result to RESULT (when given). The release script
# and the installer's build (for the uninstaller) call it.
set -euo pipefail
file=$1
if [ -n "${2:-}" ]; then cp "$file" "$2"; fi
result=${3:-}
if [ -z "${ZYR_SIGN_PFX:-}" ]; then
    if [ -n "$result" ]; then cp "$file" "$result"; fi
    exit 0
fi

args=(sign -pkcs12 "$ZYR_SIGN_PFX" -h sha256 -n ZYR -in "$file" -out "$file.signed")
if [ -n "${ZYR_SIGN_TIMESTAMP_URL:-}" ]; then args+=(-ts "$ZYR_SIGN_TIMESTAMP_URL"); fi
rm -f "$file.signed"
# The password goes through a pipe, never on a command line others can read.
if ! osslsigncode "${args[@]}" -readpass <(printf '%s' "${ZYR_SIGN_PASSWORD:-}") >/dev/null; then
    echo "signing $file failed" >&2
    rm -f "$file.signed"
    exit 1
fi
mv "$file.signed" "$file"
if [ -n "$result" ]; then cp "$file" "$result"; fi
