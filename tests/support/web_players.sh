#!/usr/bin/env bash
# Prepares the site of the web player tests in OUT (default build/web-players): real player libraries from the
# npm registry (video.js, Plyr), test clips made with ffmpeg (red ones with a tone, a blue silent one) and the
# test pages. The npm packages are kept in OUT between runs; nothing of it is committed.
set -euo pipefail
OUT=${1:?usage: web_players.sh OUTDIR}
PAGES=$(cd "$(dirname "$0")/../pages/players" && pwd)
mkdir -p "$OUT/site"
cd "$OUT"
if [ ! -f node_modules/video.js/dist/video.min.js ] || [ ! -f node_modules/plyr/dist/plyr.min.js ]; then
    [ -f package.json ] || echo '{"name": "krel-web-players", "private": true}' > package.json
    npm install --no-audit --no-fund --ignore-scripts --loglevel=error video.js@8 plyr@3
fi
if [ ! -f site/clip.webm ]; then
    # VP8 and Vorbis in WebM: what this web engine plays without proprietary codecs.
    ffmpeg -loglevel error -y -f lavfi -i "color=c=red:s=640x360:r=25:d=60" -f lavfi -i "sine=frequency=440:duration=60" \
        -c:v libvpx -b:v 200k -c:a libvorbis -shortest -f webm site/clip.webm.part
    mv site/clip.webm.part site/clip.webm
fi
if [ ! -f site/short.webm ]; then
    ffmpeg -loglevel error -y -f lavfi -i "color=c=red:s=640x360:r=25:d=3" -f lavfi -i "sine=frequency=440:duration=3" \
        -c:v libvpx -b:v 200k -c:a libvorbis -shortest -f webm site/short.webm.part
    mv site/short.webm.part site/short.webm
fi
if [ ! -f site/preview.webm ]; then
    ffmpeg -loglevel error -y -f lavfi -i "color=c=blue:s=320x180:r=25:d=60" -c:v libvpx -b:v 100k -an \
        -f webm site/preview.webm.part
    mv site/preview.webm.part site/preview.webm
fi
ln -sfn "$OUT/node_modules/video.js/dist" site/video.js
ln -sfn "$OUT/node_modules/plyr/dist" site/plyr
for page in "$PAGES"/*.html; do
    ln -sfn "$page" "site/$(basename "$page")"
done
echo "web players ready in $OUT/site"
