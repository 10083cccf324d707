#!/bin/sh
# The Debian package: builds it in build-deb/ with Debian's hardening flags,
# lints it and its manual pages, installs it with dpkg, runs the installed
# program, validates the installed AppStream file, purges it and checks that
# nothing it installed is left. The package stays in
# build-deb/kvz-cdi_VERSION_ARCH.deb. Installs and purges kvz-cdi on this
# machine (through sudo when not root); scripts/package.sh installs the tools
# it needs and runs it.
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then sudo=; else sudo=sudo; fi
build=build-deb
jobs=$(nproc 2>/dev/null || echo 2)

echo "--- build"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVZ_BUILD_TESTS=OFF -DKVZ_WERROR=ON \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$build" -j "$jobs"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/kvz-cdi_*.deb)
version=$(dpkg-deb --field "$deb" Version)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

echo "--- manual pages"
for page in packaging/*.1; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then echo "$page:"; echo "$warnings"; exit 1; fi
    echo "ok: $page"
done

echo "--- lintian"
lintian --display-info --fail-on error "$deb"

echo "--- install"
$sudo dpkg -i "$deb"
listed=$(dpkg -L kvz-cdi)
[ "$(/usr/bin/kvz-cdi --version)" = "kvz-cdi $version" ] \
    || { echo "/usr/bin/kvz-cdi --version does not print kvz-cdi $version"; exit 1; }
echo "ok: /usr/bin/kvz-cdi --version prints kvz-cdi $version"
[ "$(/usr/bin/kvz-cdi-cli --version)" = "kvz-cdi-cli $version" ] \
    || { echo "/usr/bin/kvz-cdi-cli --version does not print kvz-cdi-cli $version"; exit 1; }
echo "ok: /usr/bin/kvz-cdi-cli --version prints kvz-cdi-cli $version"
for program in kvz-cdi kvz-cdi-cli; do
    file -L /usr/bin/$program | grep -q ', stripped' \
        || { echo "/usr/bin/$program is not stripped"; exit 1; }
done
appstreamcli validate --no-net /usr/share/metainfo/io.github.kvz_cdi.kvz_cdi.metainfo.xml

echo "--- purge"
$sudo dpkg -P kvz-cdi
left=0
# A folder another package also holds stays; anything else must be gone.
for path in $listed; do
    [ "$path" != /. ] || continue
    [ -e "$path" ] || [ -L "$path" ] || continue
    if [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then
        continue
    fi
    echo "left behind: $path"
    left=1
done
[ $left -eq 0 ] || exit 1
echo "ok: nothing of the $(echo "$listed" | wc -l) paths dpkg listed is left"
echo "package: $deb"
