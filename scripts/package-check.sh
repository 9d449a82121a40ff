#!/usr/bin/env bash
# Builds the Debian package of a build folder (cpack -G DEB), checks the
# dependencies dpkg-shlibdeps found, unpacks it into a scratch root with
# dpkg -x and runs the installed programs from a folder unrelated to the
# source and build trees: ftjpeg workdir (the data from share/veltrano),
# ftjpeg compress (the build's bytes), ssimdiff_cygwin, a batch experiment
# that runs the installed ssimdiff_cygwin, ftjpeg rd with the study codecs of
# the installed module (and its refusal without it), and the window's console
# mode.
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
# The study-codec module's libraries, whatever their sonames' versions.
for library in libwebp libavif libjxl; do
    [[ ", $depends," == *", $library"[0-9]* ]] || fail "Depends lacks $library: $depends"
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
program=$(find "$usr" -path '*/veltrano/ftjpeg.so')
[ -f "$program" ] || fail "the package lacks the full ftjpeg program /usr/<libdir>/veltrano/ftjpeg.so: '$program'"
module=$(find "$usr" -path '*/veltrano/studycodecs.so')
[ -f "$module" ] || fail "the package lacks its one study-codec module /usr/<libdir>/veltrano/studycodecs.so: '$module'"
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

# ftjpeg rd loads the installed module (not the build tree's) and measures
# real points with it; without it, it refuses before measuring anything.
ftjpeg direct wd/photos/chelsea.png small.png
LD_DEBUG=files ftjpeg rd small.png --schemes webp,jxl --out rd-installed >rd-installed.out 2>rd-installed.log \
    || { cat rd-installed.log >&2; fail "the installed ftjpeg rd failed"; }
loaded=$(sed -n 's/^ *[0-9]*:[[:space:]]*file=\([^ ]*veltrano\/studycodecs\.so\) .*dynamically loaded.*/\1/p' rd-installed.log)
[ "$loaded" = "$module" ] || fail "ftjpeg rd loaded the module '$loaded', not the installed $module"
loaded=$(sed -n 's/^ *[0-9]*:[[:space:]]*file=\([^ ]*veltrano\/ftjpeg\.so\) .*dynamically loaded.*/\1/p' rd-installed.log)
[ "$loaded" = "$program" ] || fail "ftjpeg rd ran the full program '$loaded', not the installed $program"
# Rows of each scheme with a Butteraugli distance, and all rows.
counts=$(awk -F, 'NR > 1 { rows++; if ($15 + 0 > 0) n[$5]++ } END { print n["webp"] + 0, n["jxl"] + 0, rows + 0 }' \
             rd-installed/points.csv)
read -r webp jxl rows <<<"$counts"
[ "$webp" -gt 10 ] && [ "$jxl" -gt 10 ] && [ $((webp + jxl)) -eq "$rows" ] \
    || fail "the installed ftjpeg rd measured webp $webp, jxl $jxl of $rows points with a Butteraugli distance"
rm "$module"
set +e
refusal=$(ftjpeg rd small.png --schemes webp --out rd-missing 2>&1)
status=$?
set -e
[ $status -eq 1 ] && [[ "$refusal" == *"need the module $module, which cannot be loaded: "* ]] \
    && [ ! -e rd-missing ] || fail "without its module ftjpeg rd answered '$refusal' with status $status"

set +e
console=$(veltrano a.ppm 5 10)
status=$?
set -e
[ $status -eq 1 ] && [[ "$console" == "console: name, min area, max diff, back rejoin, edge, sim"* ]] \
    || fail "veltrano's console mode answered '$console' with status $status"
echo "package-check: $(basename "$deb") installs and runs (Depends: $depends)"
