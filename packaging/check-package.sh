#!/bin/sh
# Builds the Debian package from BUILD_DIR, unpacks it into a temporary root and
# checks that its layout is complete and that the installed command finds its
# pages: the index page reports itself loaded in the log. Needs an X display.
set -eu

build=$(cd "${1:?usage: check-package.sh BUILD_DIR}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrolin-package.XXXXXX")
pid=
cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Package into the temporary directory so that the build tree stays as it was.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    fail "cpack failed"
}
deb=$(find "$work/out" -maxdepth 1 -name 'tavrolin_*.deb' | head -n 1)
[ -n "$deb" ] || fail "no tavrolin_*.deb produced"
echo "package: $(basename "$deb")"

[ "$(dpkg-deb -f "$deb" Package)" = tavrolin ] || fail "package name"
version=$(dpkg-deb -f "$deb" Version)
case "$version" in 3.3.1*) ;; *) fail "version is '$version'" ;; esac
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in libqt5core5a libqt5gui5 libqt5widgets5 libqt5network5 libqt5printsupport5 libssl3 libqt5webkit5 \
    libmpv2 libquazip1-qt5-1 libqt5sql5 libqt5sql5-sqlite libavformat59 fonts-dejavu-core; do
    echo "$depends" | tr ',' '\n' | grep -q "^ *$dep\( \|$\)" || fail "Depends lacks $dep"
done
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
[ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no Description"

root="$work/root"
dpkg -x "$deb" "$root"

# Debian's own checks. An error fails the package, and so does a warning that
# is not listed here with the reason it is accepted:
# - maintscript-calls-ldconfig: CPack calls ldconfig for any shared object under
#   /usr/lib, here the library module in /usr/lib/tavrolin, which the program
#   loads by its path; the call is needless there but does no harm.
accepted_warnings="maintscript-calls-ldconfig"
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
grep -v '^running with root privileges' "$work/lintian.log" || true
if grep -q '^E: ' "$work/lintian.log"; then
    fail "lintian reports errors"
fi
for tag in $(sed -n 's/^W: [^:]*: \([^ ]*\).*/\1/p' "$work/lintian.log" | sort -u); do
    echo " $accepted_warnings " | grep -q " $tag " || fail "lintian warns: $tag"
done
[ -z "$(desktop-file-validate "$root/usr/share/applications/tavrolin.desktop" 2>&1)" ] ||
    fail "desktop-file-validate: $(desktop-file-validate "$root/usr/share/applications/tavrolin.desktop" 2>&1)"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
for f in usr/share/doc/tavrolin/copyright usr/share/doc/tavrolin/changelog.gz usr/share/man/man1/tavrolin.1.gz; do
    [ -s "$root/$f" ] || fail "$f missing"
done
app="$root/usr/lib/tavrolin"
for f in usr/bin/tavrolin usr/lib/tavrolin/tavrolin; do
    [ -x "$root/$f" ] || fail "$f missing or not executable"
done
for f in tavrolin_library.so static/index.html static/config.js local/listen.html local/paragraph.html local/local.html static/mediafiles.js locale/zh_CN.qm locale/de.qm; do
    [ -s "$app/$f" ] || fail "usr/lib/tavrolin/$f missing"
done
[ -s "$root/usr/share/applications/tavrolin.desktop" ] || fail "desktop entry missing"
grep -q '^Exec=tavrolin' "$root/usr/share/applications/tavrolin.desktop" || fail "desktop entry does not run tavrolin"
grep -q '^MimeType=.*audio/mpeg;.*video/x-matroska;' "$root/usr/share/applications/tavrolin.desktop" ||
    fail "desktop entry declares no audio and video types"
[ -s "$root/usr/share/icons/hicolor/64x64/apps/tavrolin.png" ] || fail "icon missing"

# Start the unpacked command with a fresh HOME and wait for the index page.
[ -n "${DISPLAY:-}" ] || fail "no X display (run under xvfb-run)"
home="$work/home"
mkdir -p "$home/run"
chmod 700 "$home/run"
log="$home/.local/share/tavrolin/Velmaranthose/vorb_de/vorb_log.txt"
env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME="$home" XDG_RUNTIME_DIR="$home/run" \
    "$root/usr/bin/tavrolin" >"$work/app.out" 2>&1 &
pid=$!
i=0
until grep -q "page loaded: index" "$log" 2>/dev/null; do
    if ! kill -0 "$pid" 2>/dev/null; then
        cat "$work/app.out" >&2
        [ -f "$log" ] && cat "$log" >&2
        pid=
        fail "the installed tavrolin exited before loading its index page"
    fi
    i=$((i + 1))
    if [ "$i" -gt 300 ]; then
        [ -f "$log" ] && cat "$log" >&2
        fail "index page not loaded within 30 s"
    fi
    sleep 0.1
done
echo "installed tavrolin loaded its index page"

# The library module is loaded on first use: a second start handing over a media
# file has the running program import it, through the installed module.
sample="$build/tests/media/samples/alt.flac"
[ -f "$sample" ] || fail "no sample media at $sample"
cp "$sample" "$work/probe.flac"
env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME="$home" XDG_RUNTIME_DIR="$home/run" \
    "$root/usr/bin/tavrolin" "$work/probe.flac" >>"$work/app.out" 2>&1 || true
i=0
until grep -q "Library module .* loaded" "$log" 2>/dev/null; do
    i=$((i + 1))
    if [ "$i" -gt 300 ] || grep -q "Library module:" "$log"; then
        cat "$log" >&2
        fail "the installed tavrolin could not load its library module"
    fi
    sleep 0.1
done
echo "installed tavrolin loaded its library module"
