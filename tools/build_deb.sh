#!/bin/sh
# Builds the Debian packages of both programs from the committed sources, as `dpkg-buildpackage -us
# -uc -b` does on a clean checkout, checks them with lintian (any error fails), and tries the
# packaged files without installing them: the programs' versions, the manual pages and the bash
# completion. Prints how long the build took. Needs the packages of setup.sh and debhelper, lintian,
# help2man and bash-completion.
#
# Usage: tools/build_deb.sh [OUT_DIR]      (the .deb files land in OUT_DIR, by default build-deb/)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$here/build-deb}" && cd "${1:-$here/build-deb}" && pwd)
# A fixed scratch folder, so that a compiler cache finds the same paths from one run to the next.
work=${TMPDIR:-/tmp}/dorvik-midi-deb
rm -rf "$work"
mkdir -p "$work"
git -C "$here" archive --format=tar --prefix=dorvik-midi-player/ HEAD | tar -x -C "$work"

start=$(date +%s)
# On every core; the test suite is the test command's, not the package's.
(cd "$work/dorvik-midi-player" &&
    DEB_BUILD_OPTIONS="parallel=$(nproc) nocheck ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1 || {
    tail -n 40 "$work/build.log"
    echo "build_deb: dpkg-buildpackage failed; the whole log is $work/build.log"
    exit 1
}
seconds=$(($(date +%s) - start))
rm -f "$out"/*.deb "$out"/*.ddeb "$out"/*.changes "$out"/*.buildinfo
mv "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out"/
mv "$work"/*.ddeb "$out"/ 2>/dev/null || true
echo "build_deb: built in ${seconds} s:"
ls -1 "$out"/*.deb

echo "build_deb: lintian"
lintian --fail-on error --display-level ">=warning" "$out"/*.changes

# The packaged files, unpacked where they can be run from.
root="$work/root"
for deb in "$out"/*.deb; do dpkg-deb -x "$deb" "$root"; done
"$root/usr/bin/dorvik-midi" --version
# The full program is found in libexec: its own words for a file that is not there.
"$root/usr/bin/dorvik-midi" export /nonexistent/song.wav -o "$work/x.flac" 2>&1 | grep -q "Couldn't open" ||
    { echo "build_deb: dorvik-midi did not start the full program"; exit 1; }
"$root/usr/bin/dorvik-midi-player" --version
for page in "$root"/usr/share/man/man1/*.1.gz; do
    MANWIDTH=80 man -l "$page" >/dev/null 2>"$work/man.err" && [ ! -s "$work/man.err" ] ||
        { cat "$work/man.err"; echo "build_deb: $page does not read cleanly"; exit 1; }
done
completions="$root/usr/share/bash-completion/completions/dorvik-midi"
got=$(bash -c '. /usr/share/bash-completion/bash_completion && . "$1" &&
    COMP_WORDS=(dorvik-midi vid) COMP_CWORD=1 COMP_LINE="dorvik-midi vid" && COMP_POINT=15 && _dorvik_midi && echo "${COMPREPLY[*]}"' - "$completions")
[ "$got" = video ] || { echo "build_deb: completion of 'vid' gave '$got'"; exit 1; }
echo "build_deb: packages in $out are lintian-clean and work unpacked"
