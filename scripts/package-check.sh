#!/usr/bin/env bash
# Builds the Debian package of a build folder (cpack -G DEB), checks the
# dependencies dpkg-shlibdeps found, unpacks it into a scratch root with
# dpkg -x and runs the installed programs from a folder unrelated to the
# source and build trees: ftjpeg workdir (the data from share/veltrano),
# ftjpeg compress (the build's bytes), ssimdiff_cygwin, a batch experiment
# that runs the installed ssimdiff_cygwin, and the window's console mode.
#   scripts/package-check.sh [BUILD_DIR]      (default build/; CTest runs it)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package-check: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 \
    || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
debs=("$scratch"/package/veltrano_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no veltrano_*.deb"
deb=${debs[0]}
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libstdc++6 libqt5core5a libqt5gui5 libqt5widgets5 fonts-dejavu-core; do
    [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends lacks $package: $depends"
done

root="$scratch/root"
dpkg -x "$deb" "$root"
usr="$root/usr"
for file in bin/veltrano bin/ftjpeg bin/ssimdiff_cygwin share/veltrano/weights_out.txt \
            share/veltrano/pattern.png share/veltrano/hdr_triang_4.png share/veltrano/photos/LICENSE.txt \
            share/applications/veltrano.desktop share/icons/hicolor/scalable/apps/veltrano.svg \
            share/man/man1/ftjpeg.1 share/man/man1/ssimdiff_cygwin.1; do
    [ -e "$usr/$file" ] || fail "the package lacks /usr/$file"
done
grep -q '^\.TH FTJPEG "1"' "$usr/share/man/man1/ftjpeg.1" || fail "ftjpeg.1 is no man page"
grep -q '^\.SS inverse' "$usr/share/man/man1/ftjpeg.1" || fail "ftjpeg.1 lacks the inverse command"
grep -q '^Exec=veltrano$' "$usr/share/applications/veltrano.desktop" || fail "the desktop entry runs no veltrano"

# The installed data folder is the one used: a photograph taken out of it is
# missing from the working directory (the source tree still has it).
rm "$usr/share/veltrano/photos/gravel.png"
mkdir "$scratch/elsewhere"
cd "$scratch/elsewhere"
export PATH="$usr/bin:$PATH" QT_QPA_PLATFORM=offscreen
[ "$(command -v ftjpeg)" = "$usr/bin/ftjpeg" ] || fail "ftjpeg is not the installed one"
ftjpeg workdir wd
cmp wd/weights_out.txt "$usr/share/veltrano/weights_out.txt" || fail "workdir wrote another weights table"
cmp wd/photos/chelsea.png "$usr/share/veltrano/photos/chelsea.png" || fail "workdir copied another photograph"
[ ! -e wd/photos/gravel.png ] || fail "workdir took its photographs from outside the installation"

weights="$usr/share/veltrano/weights_out.txt"
ftjpeg compress wd/photos/chelsea.png installed.jpg --weights "$weights" >installed.bpp
"$build/bin/ftjpeg" compress wd/photos/chelsea.png built.jpg --weights "$weights" >built.bpp
cmp installed.jpg built.jpg || fail "the installed ftjpeg compress writes other bytes"
cmp installed.bpp built.bpp || fail "the installed ftjpeg compress prints another bit rate"

[ "$(ssimdiff_cygwin -CC 1 wd/photos/chelsea.png wd/photos/chelsea.png)" = "$(printf '1\tinf')" ] \
    || fail "ssimdiff_cygwin does not find identical images identical"
(cd wd && ftjpeg batch jpeg-stat >../jpeg-stat.txt) || fail "ftjpeg batch jpeg-stat failed"
rows=$(grep -c $'^[0-9]*\t[0-9.]*\t[0-9.]*\t[0-9.inf]*$' jpeg-stat.txt || true)
[ "$rows" -eq 11 ] || { cat jpeg-stat.txt >&2; fail "jpeg-stat gave $rows complete rows, not 11"; }

set +e
console=$(veltrano a.ppm 5 10)
status=$?
set -e
[ $status -eq 1 ] && [[ "$console" == "console: name, min area, max diff, back rejoin, edge, sim"* ]] \
    || fail "veltrano's console mode answered '$console' with status $status"
echo "package-check: $(basename "$deb") installs and runs (Depends: $depends)"
