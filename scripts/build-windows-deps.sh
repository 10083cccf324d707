#!/bin/sh
# Builds what the Windows programs link, with MinGW-w64 (posix thread
# model), as static libraries: FLTK 1.3.8 and hidapi 0.13.1 from their
# release sources, checked against the SHA-256 sums below first, and
# GoogleTest from Debian's /usr/src/googletest. They go into a prefix in
# the user's cache named after a hash of everything the build is made of:
# this script's text (the sums and the build options in it), the
# cross-compiling toolchain file, the cross compilers' versions and
# GoogleTest's; a change to any of them builds afresh, and each set is built
# once. A stamp file in the prefix marks a build that finished; such a
# prefix is used again without the sources. The licence texts the installer
# ships go into its share/licenses/. Prints the prefix.
#
# The release sources are taken from the folder KVZ_THIRD_PARTY names, else
# from shared/third_party in the folder above the clone or in one further
# up. They cannot be downloaded here: without them the script says in one
# line which files it needs and where they go.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kvz-cdi-mingw
googletest=/usr/src/googletest
toolchain=$root/packaging/windows/mingw-w64.cmake
sums='e30db0c7670ca4852d33cb5ee6690f7e975aaab4c1b6a03e2222eec7155efb13  fltk-1.3.8-source.tar.gz
476a2c9a4dc7d1fc97dd223b84338dbea3809a84caea2dcd887d9778725490e3  hidapi-0.13.1-source.tar.gz'

for compiler in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix; do
    command -v $compiler >/dev/null ||
        { echo "$compiler is missing: install gcc-mingw-w64-x86-64-posix and g++-mingw-w64-x86-64-posix" >&2; exit 1; }
done
key=$({
    cat "$0" "$toolchain"
    x86_64-w64-mingw32-gcc-posix --version
    x86_64-w64-mingw32-g++-posix --version
    dpkg-query -W -f '${Version}\n' googletest 2>/dev/null || true
} | sha256sum | cut -c 1-12)
prefix=$cache/$key
stamp=$prefix/kvz-cdi-deps.complete
if [ -f "$stamp" ]; then
    echo "reusing $prefix" >&2
    echo "$prefix"
    exit 0
fi

# True when a folder holds every release source (checked later).
has_sources() {
    for name in $(printf '%s\n' "$sums" | cut -d ' ' -f 3); do
        [ -f "$1/$name" ] || return 1
    done
}
third_party=${KVZ_THIRD_PARTY:-}
dir=$root
while [ -z "${KVZ_THIRD_PARTY:-}" ] && [ -z "$third_party" ] && [ "$dir" != / ]; do
    dir=$(dirname "$dir")
    ! has_sources "$dir/shared/third_party" || third_party=$dir/shared/third_party
done
if [ -z "$third_party" ] || ! has_sources "$third_party"; then
    where=${KVZ_THIRD_PARTY:+$KVZ_THIRD_PARTY, the folder KVZ_THIRD_PARTY names}
    where=${where:-shared/third_party beside $root or in a folder above it, or in a folder named by KVZ_THIRD_PARTY}
    echo "build-windows-deps.sh needs $(printf '%s\n' "$sums" | awk '{ printf "%s%s (SHA-256 %s)", (NR > 1 ? " and " : ""), $2, $1 }') in $where" >&2
    exit 1
fi
(cd "$third_party" && printf '%s\n' "$sums" | sha256sum --check --quiet -) >&2 ||
    { echo "the sources in $third_party do not match their SHA-256 sums" >&2; exit 1; }

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
