#!/usr/bin/env bash
# Installs every Debian package that the build, the program and the tests need.
# Idempotent: runs apt-get only when something is missing.
set -euo pipefail

PACKAGES=(
    # build
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools libqt6dbus6 qt6-webengine-dev qt6-webengine-dev-tools libqt6svg6
    libqt6opengl6-dev libgl-dev
    libhidapi-dev libsqlcipher-dev sqlcipher libcurl4-openssl-dev libssl-dev libpulse-dev libzip-dev libevdev-dev libudev-dev libmpv-dev
    libx11-dev libxfixes-dev libxrandr-dev libxss-dev libxtst-dev nlohmann-json3-dev qt6-httpserver-dev qt6-websockets-dev libqrencode-dev
    libespeak-ng-dev espeak-ng-data
    clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    # tests and demo: servers and tools
    xvfb x11-xserver-utils x11-utils xdotool trayer imagemagick edid-decode chromium zbar-tools
    pulseaudio pulseaudio-utils dbus dbus-x11 desktop-file-utils python3 curl
    fonts-noto-cjk ffmpeg zip playerctl
    # other sessions: a Wayland compositor and Qt's Wayland platform, a window manager with a panel
    weston qt6-wayland icewm
    # the desktops people run: GNOME (mutter, on Wayland with Xwayland and on Xorg), KDE Plasma (kwin_x11), Xfce (xfwm4),
    # and a two-output X server for the X11 ones (Xorg with the dummy driver)
    mutter xwayland kwin-x11 xfwm4 xserver-xorg-core xserver-xorg-video-dummy
    # the Debian package and its checks
    dpkg-dev lintian systemd
)

# The web player tests fetch player libraries with npm; the machines come with Node.js and npm, else Debian's.
command -v npm >/dev/null 2>&1 || PACKAGES+=(nodejs npm)

# --list: only print the packages, one a line (for the check that the build uses nothing else).
if [ "${1:-}" = --list ]; then
    printf '%s\n' "${PACKAGES[@]}"
    exit 0
fi

missing=()
for p in "${PACKAGES[@]}"; do
    # (Installed with its triggers still to run is installed.)
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -Eq 'install ok (installed|triggers-pending|triggers-awaited)'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "deps: installing ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    # Another apt (an unattended upgrade, a software centre) may hold the package lock: waited for, 10 minutes at most.
    LOCK=(-o DPkg::Lock::Timeout=600)
    $SUDO apt-get "${LOCK[@]}" update -qq
    $SUDO apt-get "${LOCK[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
