#!/usr/bin/env bash
# Installs what is needed, builds, makes the demo catalogue and starts krel with it.
# On a desktop (DISPLAY set) krel opens there. Without one it runs inside a virtual two-monitor X server with its
# own PulseAudio server; press keys with build/tools/krel-remote and look at the TV screenshot it writes.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what the demo runs: the program, its engines and players, its two tools and the catalogue (the tests and
# benchmarks are scripts/test.sh's).
cmake --build build -j"$(nproc)" --target krel krel_web krel_chromium krel_film krel-remote krel-catalogue \
    demo_catalogue

APP=$ROOT/build/demo
STATE=$ROOT/build/demo-machine
mkdir -p "$STATE/var/lib/krel" "$STATE/etc/xdg/autostart"
# Per-machine files of the demo live under build/demo-machine, never in /var/lib or /etc.
export KREL_ROOT=$STATE

# The demo's local video pages, on a free port; the demo catalogue is built again for that port.
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed "s|http://127.0.0.1:8765/|http://127.0.0.1:$PORT/|g" catalogue/demo/catalogue.json >"$STATE/catalogue.json"
"$ROOT/build/tools/krel-catalogue" build "$STATE/catalogue.json" "$APP" >/dev/null
python3 -m http.server "$PORT" --bind 127.0.0.1 --directory "$ROOT/catalogue/demo/pages" >/dev/null 2>&1 &
PIDS=($!)
TEMPS=()
cleanup() {
    kill "${PIDS[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "${TEMPS[@]}"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

KEYS="Power (TV output on/off, and the shutdown prompt), Digit0..Digit9 (choose a row; 1 or 0 answers the prompt),
  Back, NextPage (CH+), PreviousPage (CH-), Up, Down, Left, Right, Ok (arrows and OK: the highlight; Left/Right seek
  in a video), PlayPause, LeaveVideo, LeaveVideo2, VolumeUp, VolumeDown, Subtitle, AudioTrack"

# Run as root (a container, a VM), the web engines' sandboxes cannot start: they are turned off for the demo.
CHROMIUM_FLAGS="--disable-background-networking --disable-component-update"
# (A virtual display has no GPU.)
[ -n "${DISPLAY:-}" ] || CHROMIUM_FLAGS="$CHROMIUM_FLAGS --disable-gpu"
if [ "$(id -u)" -eq 0 ]; then
    echo "Running as root: the web engines' sandboxes are off for this demo (never do that for the open web)."
    # (--test-type: without the browser's warning bar about it over the top of the TV.)
    CHROMIUM_FLAGS="$CHROMIUM_FLAGS --no-sandbox --test-type"
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
export KREL_CHROMIUM_FLAGS=$CHROMIUM_FLAGS
export QTWEBENGINE_CHROMIUM_FLAGS="$CHROMIUM_FLAGS"

if [ -n "${DISPLAY:-}" ]; then
    echo "Starting krel on $DISPLAY (settings: $STATE/var/lib/krel/Krel.ini)."
    echo "Note: this is your own session. Power ends TV output with a prompt on the TV: answering it with 1 really"
    echo "powers this PC off (0 or waiting 30 seconds keeps it on)."
    echo "Keys: $ROOT/build/tools/krel-remote NAME, NAME one of"
    echo "  $KEYS"
    "$APP/krel"
    exit 0
fi

# No display: a virtual desktop with the PC monitor on the left and the TV on the right.
export XDG_RUNTIME_DIR=$(mktemp -d)
TEMPS+=("$XDG_RUNTIME_DIR")
chmod 700 "$XDG_RUNTIME_DIR"
DISPLAY_FILE=$(mktemp)
TEMPS+=("$DISPLAY_FILE")
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
# TV output on, as soon as krel answers its software remote.
for _ in $(seq 120); do
    "$ROOT/build/tools/krel-remote" Power 2>/dev/null && break
    kill -0 "$KREL" 2>/dev/null || { echo "krel ended at start" >&2; exit 1; }
    sleep 0.5
done
SHOT=$ROOT/build/demo-tv.png
echo
echo "krel runs on a virtual display ($DISPLAY) with the TV monitor on the right."
echo "Press keys:   XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR $ROOT/build/tools/krel-remote NAME, NAME one of"
echo "  $KEYS"
echo "The TV screen is written to $SHOT every 2 seconds. Ctrl+C ends the demo."
while kill -0 "$KREL" 2>/dev/null; do
    # Written whole: a reader never finds half a picture.
    import -display "$DISPLAY" -window root -crop 1920x1080+1920+0 +repage "$SHOT.new.png" 2>/dev/null \
        && mv -f "$SHOT.new.png" "$SHOT"
    sleep 2
done
