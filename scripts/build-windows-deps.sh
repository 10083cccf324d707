#!/bin/sh
# Builds what the Windows programs link, with MinGW-w64 (posix thread
# model), as static libraries: FLTK 1.3.8 and hidapi 0.13.1 from their
# release sources, checked against SHA256SUMS first, and GoogleTest from
# Debian's /usr/src/googletest. They go into a prefix in the user's cache,
# named after SHA256SUMS's hash, so each set of sources is built once; a
# stamp file in it marks a prefix whose build finished. The licence texts
# the installer ships go into its share/licenses/. Prints the prefix.
#
# KVZ_THIRD_PARTY names the folder with the sources and SHA256SUMS
# (default: shared/third_party beside the clone, ../shared/third_party, or
# beside a folder further up). Without the sources, a prefix finished
# earlier from checked sources is used when there is exactly one.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kvz-cdi-mingw
googletest=/usr/src/googletest

third_party=${KVZ_THIRD_PARTY:-}
dir=$root
while [ -z "$third_party" ] && [ "$dir" != / ]; do
    dir=$(dirname "$dir")
    [ -f "$dir/shared/third_party/SHA256SUMS" ] && third_party=$dir/shared/third_party
done
if [ -z "$third_party" ]; then
    set -- "$cache"/*/kvz-cdi-deps.complete
    if [ $# -eq 1 ] && [ -f "$1" ]; then
        prefix=$(dirname "$1")
        echo "no release sources beside $root; reusing $prefix, built from checked sources" >&2
        echo "$prefix"
        exit 0
    fi
    echo "no release sources beside $root (set KVZ_THIRD_PARTY)" >&2
    exit 1
fi

(cd "$third_party" && sha256sum --check --quiet SHA256SUMS) >&2 ||
    { echo "the sources in $third_party do not match their SHA256SUMS" >&2; exit 1; }
key=$(sha256sum "$third_party/SHA256SUMS" | cut -c 1-12)
prefix=$cache/$key
stamp=$prefix/kvz-cdi-deps.complete

if [ -f "$stamp" ]; then
    echo "reusing $prefix" >&2
    echo "$prefix"
    exit 0
fi
[ -d "$googletest" ] || { echo "$googletest is missing: install googletest" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/build.log
jobs=$(nproc 2>/dev/null || echo 2)

# build NAME SOURCE_DIR [CMAKE_OPTIONS...]: configures, builds and installs
# one library into the prefix; its output goes to the log, shown on failure.
build() {
    name=$1
    source=$2
    shift 2
    echo "building $name" >&2
    if ! {
        cmake -S "$source" -B "$work/build-$name" \
            -DCMAKE_TOOLCHAIN_FILE="$root/packaging/windows/mingw-w64.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" &&
            cmake --build "$work/build-$name" -j "$jobs" &&
            cmake --install "$work/build-$name"
    } >>"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "building $name for Windows failed" >&2
        exit 1
    fi
}

rm -rf "$prefix"
tar -xzf "$third_party/fltk-1.3.8-source.tar.gz" -C "$work"
tar -xzf "$third_party/hidapi-0.13.1-source.tar.gz" -C "$work"

# FLTK's own image and compression libraries, not the system's: the
# program needs neither, and this keeps MinGW-w64's zlib out.
build fltk "$work/fltk-1.3.8" \
    -DOPTION_BUILD_SHARED_LIBS=OFF -DOPTION_USE_GL=OFF \
    -DOPTION_USE_SYSTEM_ZLIB=OFF -DOPTION_USE_SYSTEM_LIBJPEG=OFF -DOPTION_USE_SYSTEM_LIBPNG=OFF \
    -DFLTK_BUILD_TEST=OFF -DFLTK_BUILD_EXAMPLES=OFF \
    -DOPTION_BUILD_HTML_DOCUMENTATION=OFF -DOPTION_BUILD_PDF_DOCUMENTATION=OFF
build hidapi "$work/hidapi-hidapi-0.13.1" -DBUILD_SHARED_LIBS=OFF -DHIDAPI_BUILD_HIDTEST=OFF
build googletest "$googletest" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON

install -D -m 644 "$work/fltk-1.3.8/COPYING" "$prefix/share/licenses/fltk/COPYING"
install -D -m 644 "$work/hidapi-hidapi-0.13.1/LICENSE.txt" "$prefix/share/licenses/hidapi/LICENSE.txt"
install -D -m 644 "$work/hidapi-hidapi-0.13.1/LICENSE-bsd.txt" "$prefix/share/licenses/hidapi/LICENSE-bsd.txt"

touch "$stamp"
echo "$prefix"
