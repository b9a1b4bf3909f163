#!/usr/bin/env bash
# Prepares the site of the web player tests in OUT (default build/web-players): real player libraries from the
# npm registry (video.js, Plyr; the streaming players hls.js, dash.js, Shaka Player), test clips made with ffmpeg
# (red ones with a tone, a blue silent one; one H.264/AAC clip as a progressive file, HLS with MPEG-TS and with
# fMP4 segments, and DASH) and the test pages. The npm packages are kept in OUT between runs; nothing of it is committed.
set -euo pipefail
OUT=${1:?usage: web_players.sh OUTDIR}
PAGES=$(cd "$(dirname "$0")/../pages/players" && pwd)
mkdir -p "$OUT/site"
cd "$OUT"
LIBS=(node_modules/video.js/dist/video.min.js node_modules/plyr/dist/plyr.min.js node_modules/hls.js/dist/hls.min.js
      node_modules/dashjs/dist/modern/umd/dash.all.min.js node_modules/shaka-player/dist/shaka-player.compiled.js)
for lib in "${LIBS[@]}"; do
    if [ ! -f "$lib" ]; then
        [ -f package.json ] || echo '{"name": "krel-web-players", "private": true}' > package.json
        npm install --no-audit --no-fund --ignore-scripts --loglevel=error video.js@8 plyr@3 hls.js@1 dashjs@5 \
            shaka-player@5
        break
    fi
done
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
# H.264/AAC, a key frame every 2 s so that every stream can be cut into 2 s segments without encoding again.
if [ ! -f site/streams/done ]; then
    rm -rf site/streams && mkdir -p site/streams/ts site/streams/fmp4 site/streams/dash
    ffmpeg -loglevel error -y -f lavfi -i "color=c=red:s=640x360:r=25:d=60" -f lavfi -i "sine=frequency=440:duration=60" \
        -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 50 -keyint_min 50 -sc_threshold 0 -c:a aac -b:a 96k \
        -shortest -movflags +faststart site/streams/clip.mp4
    ffmpeg -loglevel error -y -i site/streams/clip.mp4 -c copy -f hls -hls_time 2 -hls_playlist_type vod \
        -hls_segment_filename 'site/streams/ts/s%03d.ts' site/streams/ts/index.m3u8
    ffmpeg -loglevel error -y -i site/streams/clip.mp4 -c copy -f hls -hls_time 2 -hls_playlist_type vod \
        -hls_segment_type fmp4 -hls_fmp4_init_filename init.mp4 -hls_segment_filename 'site/streams/fmp4/s%03d.m4s' \
        site/streams/fmp4/index.m3u8
    ffmpeg -loglevel error -y -i site/streams/clip.mp4 -c copy -f dash -seg_duration 2 -use_template 1 \
        -use_timeline 1 site/streams/dash/index.mpd
    touch site/streams/done
fi
ln -sfn "$OUT/node_modules/video.js/dist" site/video.js
ln -sfn "$OUT/node_modules/hls.js/dist" site/hls.js
ln -sfn "$OUT/node_modules/dashjs/dist/modern/umd" site/dashjs
ln -sfn "$OUT/node_modules/shaka-player/dist" site/shaka
ln -sfn "$OUT/node_modules/plyr/dist" site/plyr
for page in "$PAGES"/*.html; do
    ln -sfn "$page" "site/$(basename "$page")"
done
echo "web players ready in $OUT/site"
