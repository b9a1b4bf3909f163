#!/usr/bin/env bash
# Checks that a configured build uses only what scripts/deps.sh installs: every CMake package folder and library
# file named in the build's CMakeCache.txt must belong to a Debian package that deps.sh names, or to one those
# depend on. A package installed by hand on the machine where the build was tried would otherwise hide a missing
# line in deps.sh until a fresh machine fails at configure.
set -euo pipefail
BUILD=${1:?usage: check_deps.sh BUILDDIR}
cd "$(dirname "$0")/.."
CACHE=$BUILD/CMakeCache.txt
[ -f "$CACHE" ] || { echo "check_deps: no $CACHE" >&2; exit 1; }

# The paths the build uses: package folders (Foo_DIR) that hold a package's CMake files, and the library files the
# build links (the cache also names libraries a find module only probed, such as libGLU: those are not used).
LINKED=$BUILD/build.ninja
paths=$( {
    sed -n -E 's/^[A-Za-z0-9_.+-]+_DIR:PATH=(\/.*)$/\1/p' "$CACHE" | while read -r p; do
        if [ -d "$p" ] && ls "$p"/*[Cc]onfig.cmake >/dev/null 2>&1; then echo "$p"; fi
    done
    sed -n -E 's/^[A-Za-z0-9_.+-]+:FILEPATH=(\/.*\.(so|a)(\.[0-9.]+)?)$/\1/p' "$CACHE" | while read -r p; do
        if [ ! -f "$LINKED" ] || grep -qF -- "$p" "$LINKED"; then echo "$p"; fi
    done
    [ ! -f "$LINKED" ] || grep -oE '/usr/lib/[A-Za-z0-9_./+-]+\.(so|a)\b' "$LINKED"
} | sort -u)

# Everything deps.sh brings: its packages and, recursively, what they depend on (installed ones only; a virtual
# package's providers are the indented lines below it).
mapfile -t named < <(bash scripts/deps.sh --list)
allowed=$(apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances "${named[@]}" 2>/dev/null |
    sed -n -E 's/^([^ <][^ ]*)$/\1/p; s/^ *(Pre)?Depends: ([^<][^ ]*)$/\2/p; s/^    ([^ <][^ ]*)$/\1/p' |
    sed 's/:.*//' | sort -u)
allowed=$(printf '%s\n%s\n' "$allowed" "$(printf '%s\n' "${named[@]}")" | sort -u)

missing=()
while read -r p; do
    [ -n "$p" ] || continue
    # The real file, so that a link of one package to a file of another is judged by the file's owner too.
    owners=$( { dpkg -S "$p" 2>/dev/null || true; dpkg -S "$(readlink -f "$p")" 2>/dev/null || true; } |
        sed -E 's/: \/.*$//' | tr ',' '\n' | sed -E 's/^ +//; s/:.*$//' | sort -u)
    [ -n "$owners" ] || continue # not a packaged file (one the build made)
    ok=0
    for o in $owners; do
        grep -qx -- "$o" <<<"$allowed" && ok=1
    done
    [ "$ok" = 1 ] || missing+=("$(echo $owners | tr ' ' '/') ($p)")
done <<<"$paths"

if [ ${#missing[@]} -gt 0 ]; then
    echo "check_deps: the build uses packages that scripts/deps.sh does not install:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 1
fi
echo "check_deps: all $(wc -l <<<"$paths") package folders and libraries the build uses come from scripts/deps.sh"
