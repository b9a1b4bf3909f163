#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a temporary root and checks it: the layout, the
# udev rule, the permissions, the dependencies; then runs lintian, which must report no error.
set -euo pipefail
BUILD=${1:?usage: check_package.sh BUILDDIR}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "check_package: $*" >&2; exit 1; }

(cd "$BUILD" && cpack -G DEB -B "$WORK/out" >/dev/null)
DEB=$(ls "$WORK"/out/krel_*.deb)
dpkg-deb -x "$DEB" "$WORK/root"
R=$WORK/root

for f in usr/lib/krel/krel usr/lib/krel/krel.layout usr/lib/krel/libMouseCtl.so.1 usr/lib/krel/libkrel_web.so usr/lib/krel/libkrel_chromium.so \
         usr/lib/krel/libkrel_film.so usr/lib/krel/libkrel_speech.so usr/bin/krel-remote \
         usr/bin/krel-catalogue usr/share/krel/Data/data.mdb usr/share/krel/Data/date.dat usr/share/krel/ver.dat \
         usr/share/krel/pages/colorbars.html usr/share/applications/krel.desktop \
         usr/share/icons/hicolor/scalable/apps/krel.svg usr/lib/udev/rules.d/70-krel-receiver.rules \
         usr/share/doc/krel/copyright usr/share/doc/krel/changelog.gz usr/lib/systemd/user/krel.service; do
    [ -e "$R/$f" ] || fail "missing /$f"
done
[ "$(readlink "$R/usr/bin/krel")" = ../lib/krel/krel ] || fail "/usr/bin/krel is not a link to the program"
# Nothing of the per-machine state is installed, and nothing anybody may write.
[ ! -e "$R/var" ] || fail "the package installs /var"
[ -z "$(find "$R" -perm -o+w ! -type l)" ] || fail "world-writable files: $(find "$R" -perm -o+w ! -type l)"
[ -z "$(find "$R/usr/share" -type f -perm /111)" ] || fail "executable data files"
[ "$(stat -c %a "$R/usr/lib/krel/krel")" = 755 ] || fail "the program is not mode 755"
# The receiver goes to the user at the seat, never to everybody.
grep -qF 'SUBSYSTEM=="cec", KERNEL=="cec[0-9]*", TAG+="uaccess"' "$R/usr/lib/udev/rules.d/70-krel-receiver.rules" \
    || fail "the udev rule does not give the seat user the CEC adapters"
grep -q 'ATTRS{idVendor}=="04d8", ATTRS{idProduct}=="173f", TAG+="uaccess"' "$R/usr/lib/udev/rules.d/70-krel-receiver.rules" \
    || fail "the udev rule does not give the receiver to the seat user"
! grep -q 'MODE=' "$R/usr/lib/udev/rules.d/70-krel-receiver.rules" || fail "the udev rule sets a mode"
# The user unit that starts krel again when it dies: systemd's own check says nothing of it. It runs the program
# from the unpacked root (the check wants the command to exist) in a runtime folder of its own (no user manager
# runs here).
mkdir -p "$WORK/unit" "$WORK/runtime" && chmod 700 "$WORK/runtime"
sed "s|^ExecStart=/usr/bin/krel|ExecStart=$R/usr/lib/krel/krel|" "$R/usr/lib/systemd/user/krel.service" >"$WORK/unit/krel.service"
grep -qx 'Restart=on-failure' "$WORK/unit/krel.service" || fail "the user unit does not restart krel when it fails"
VERIFY=$(XDG_RUNTIME_DIR=$WORK/runtime systemd-analyze --user verify "$WORK/unit/krel.service" 2>&1) \
    || fail "systemd-analyze verify: $VERIFY"
[ -z "$VERIFY" ] || fail "systemd-analyze verify: $VERIFY"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for lib in chromium libqt6webenginewidgets6 libmpv2 libsqlcipher0 libhidapi-hidraw0 libpulse0 libcurl4 libqt6httpserver6 libqrencode4 libespeak-ng1; do
    [[ $DEPENDS == *"$lib"* ]] || fail "Depends lacks $lib: $DEPENDS"
done
desktop-file-validate "$R/usr/share/applications/krel.desktop"
for page in krel krel-remote krel-catalogue; do
    [ -e "$R/usr/share/man/man1/$page.1.gz" ] || fail "no manual page for $page"
done
# Errors and warnings fail, pedantic ones included; of the informational tags, none may say a binary lacks
# Debian's hardening. (hardening-no-fortify-functions is left aside: lintian gives it to any binary with one call
# the compiler could not check, fortified or not.)
REPORT=$(lintian --pedantic --display-info --fail-on error,warning "$DEB" 2>&1) || fail "lintian: $REPORT"
if echo "$REPORT" | grep -E 'hardening-no-(bindnow|pie|relro|stackprotector)'; then
    fail "binaries without Debian's hardening"
fi
echo "$REPORT" | grep -v 'running with root privileges' || true
echo "package ok: $(basename "$DEB")"
