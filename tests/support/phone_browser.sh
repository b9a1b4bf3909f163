#!/usr/bin/env bash
# Prepares the phone's browser for the phone remote tests in OUT: puppeteer-core from the npm registry, which
# drives Debian's chromium (nothing else is downloaded). Kept in OUT between runs; nothing of it is committed.
set -euo pipefail
OUT=${1:?usage: phone_browser.sh OUTDIR}
mkdir -p "$OUT"
cd "$OUT"
if [ ! -f node_modules/puppeteer-core/package.json ]; then
    [ -f package.json ] || echo '{"name": "krel-phone-browser", "private": true}' > package.json
    PUPPETEER_SKIP_DOWNLOAD=1 npm install --no-audit --no-fund --ignore-scripts --loglevel=error puppeteer-core@25
fi
command -v chromium >/dev/null
echo "phone browser ready in $OUT"
