#!/usr/bin/env bash
# Installs what is needed, builds, makes the demo catalogue and starts krel with it.
# On a desktop (DISPLAY set) krel opens there. Without one it runs inside a virtual two-monitor X server with its
# own PulseAudio server; press keys with build/tools/krel-remote and look at the TV screenshot it writes.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

APP=$ROOT/build/demo
STATE=$ROOT/build/demo-machine
mkdir -p "$STATE/var/lib/krel" "$STATE/etc/xdg/autostart"
# Per-machine files of the demo live under build/demo-machine, never in /var/lib or /etc.
export KREL_ROOT=$STATE

# The demo's local video pages, on the address the demo catalogue names.
python3 -m http.server 8765 --bind 127.0.0.1 --directory "$ROOT/catalogue/demo/pages" >/dev/null 2>&1 &
PIDS=($!)
cleanup() { kill "${PIDS[@]}" 2>/dev/null || true; }
trap cleanup EXIT

if [ -n "${DISPLAY:-}" ]; then
    echo "Starting krel on $DISPLAY (settings: $STATE/var/lib/krel/Krel.ini)."
    echo "Keys: $ROOT/build/tools/krel-remote Power | Digit0..Digit9 | Back | NextPage | PreviousPage | VolumeUp | VolumeDown"
    "$APP/krel"
    exit 0
fi

# No display: a virtual desktop with the PC monitor on the left and the TV on the right.
export XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
DISPLAY_FILE=$(mktemp)
Xvfb -displayfd 3 -screen 0 3840x1080x24 +extension RANDR -nolisten tcp -noreset 3>"$DISPLAY_FILE" >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do [ -s "$DISPLAY_FILE" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$DISPLAY_FILE")
xrandr --setmonitor PC 1920/508x1080/286+0+0 screen >/dev/null
xrandr --setmonitor TV 1920/508x1080/286+1920+0 none >/dev/null
HOME=$XDG_RUNTIME_DIR pulseaudio --daemonize=no --exit-idle-time=-1 -n --log-level=error \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=pc sink_properties=device.description=PC-Speakers" \
    --load="module-null-sink sink_name=tv sink_properties=device.description=HDMI-TV" &
PIDS+=($!)
# KREL_DEMO_WAYLAND=1: krel runs under a Wayland compositor (weston) with two outputs, one window each on the
# virtual display: the PC output on the left, the TV output on the right.
if [ "${KREL_DEMO_WAYLAND:-0}" = 1 ]; then
    weston --backend=x11-backend.so --output-count=2 --width=1920 --height=1080 --socket=krel-demo --idle-time=0 \
        >/dev/null 2>&1 &
    PIDS+=($!)
    for _ in $(seq 100); do
        TV_OUTPUT=$(xwininfo -root -tree | awk '/Weston Compositor - screen1/ {print $1; exit}')
        [ -n "$TV_OUTPUT" ] && [ -S "$XDG_RUNTIME_DIR/krel-demo" ] && break
        sleep 0.1
    done
    xdotool windowmove "$TV_OUTPUT" 1920 0
    export WAYLAND_DISPLAY=krel-demo QT_QPA_PLATFORM=wayland
fi
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox --disable-background-networking --disable-component-update"

# Choose the TV monitor and the TV's sound card, as the configuration dialog would save them; the local movies
# are a folder of the demo with a short film made now.
FILMS=$STATE/films
mkdir -p "$FILMS"
[ -f "$FILMS/demo-film.webm" ] || ffmpeg -loglevel error -y -f lavfi -i "testsrc2=s=1280x720:r=25:d=30" \
    -f lavfi -i "sine=frequency=440:duration=30" -c:v libvpx -b:v 1M -c:a libvorbis -shortest "$FILMS/demo-film.webm"
INI=$STATE/var/lib/krel/Krel.ini
[ -f "$INI" ] || printf '[Config]\nDisplayCard=1920 0 3840 1080\nSoundCard=HDMI-TV\nDisableMouseCtrl=1\nLocalMovieFolders=%s\n' \
    "$FILMS" > "$INI"

"$APP/krel" &
KREL=$!
PIDS+=($KREL)
sleep 3
"$ROOT/build/tools/krel-remote" Power
SHOT=$ROOT/build/demo-tv.png
echo
echo "krel runs on a virtual display ($DISPLAY) with the TV monitor on the right."
echo "Press keys:   XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR $ROOT/build/tools/krel-remote Digit0   (Power, Digit0..9, Back,"
echo "              NextPage, PreviousPage, LeaveVideo, VolumeUp, VolumeDown)"
echo "The TV screen is written to $SHOT every 2 seconds. Ctrl+C ends the demo."
while kill -0 "$KREL" 2>/dev/null; do
    import -display "$DISPLAY" -window root -crop 1920x1080+1920+0 "$SHOT" 2>/dev/null || true
    sleep 2
done
