#!/bin/sh
# The Debian packages, kvz-cdi-cli and kvz-cdi, from one build: builds them
# in build-deb/ with Debian's hardening flags, lints them and the manual
# pages, checks their Depends, installs kvz-cdi-cli alone and checks that
# it needs no toolkit and no X11 and that bash-completion finds its
# completion, installs kvz-cdi over it, runs both programs, validates the
# AppStream files and the menu entry, checks that a saved map file is taken
# for its own type and opens with the window program, upgrades a stand-in
# for the single package of 1.2.0 to the two, purges both and checks that
# nothing they installed is left, the file type included.
# The packages stay in build-deb/. Installs and purges them on this machine
# (through sudo when not root); scripts/package.sh installs the tools it
# needs and runs it.
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then sudo=; else sudo=sudo; fi
build=build-deb
jobs=$(nproc 2>/dev/null || echo 2)

fail() {
    echo "FAIL: $*"
    exit 1
}

echo "--- build"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVZ_BUILD_TESTS=OFF -DKVZ_WERROR=ON \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$build" -j "$jobs"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
cli_deb=$(ls "$build"/kvz-cdi-cli_*.deb)
gui_deb=$(ls "$build"/kvz-cdi_*.deb)
version=$(dpkg-deb --field "$gui_deb" Version)
upstream=${version%-*}
for deb in "$cli_deb" "$gui_deb"; do
    dpkg-deb --info "$deb"
    dpkg-deb --contents "$deb"
done

echo "--- manual pages"
for page in packaging/*.1; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then echo "$page:"; echo "$warnings"; exit 1; fi
    echo "ok: $page"
done

echo "--- lintian"
lintian --display-info --fail-on error,warning "$cli_deb" "$gui_deb"
echo "ok: lintian found no error and no warning"

echo "--- maintainer scripts"
# kvz-cdi-cli applies its udev rule after the install and lets udev forget
# it after the removal; kvz-cdi needs none of its own.
for script in postinst postrm; do
    dpkg-deb --ctrl-tarfile "$cli_deb" | tar -tf - | grep -qx "./$script" || fail "kvz-cdi-cli has no $script"
done
! dpkg-deb --ctrl-tarfile "$gui_deb" | tar -tf - | grep -q -e postinst -e postrm || fail "kvz-cdi has a maintainer script"
echo "ok: kvz-cdi-cli has its postinst and postrm"

echo "--- fields"
# field DEB NAME: one control field of a package, on one line.
field() {
    dpkg-deb --field "$1" "$2" | tr '\n' ' ' | sed 's/ *$//'
}
cli_depends=$(field "$cli_deb" Depends)
echo "kvz-cdi-cli Depends: $cli_depends"
# The C and C++ runtimes and hidapi, nothing else.
extra=$(echo "$cli_depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' |
    grep -vx -e libc6 -e 'libgcc-s1' -e 'libstdc++6' -e 'libhidapi-hidraw0' || true)
[ -z "$extra" ] || fail "kvz-cdi-cli depends on $extra"
echo "$cli_depends" | grep -q 'libhidapi-hidraw0' || fail "kvz-cdi-cli does not depend on hidapi"
[ "$(field "$cli_deb" Recommends)" = udev ] || fail "kvz-cdi-cli does not recommend udev"
for relation in Breaks Replaces; do
    [ "$(field "$cli_deb" $relation)" = "kvz-cdi (<< $version)" ] ||
        fail "kvz-cdi-cli's $relation is '$(field "$cli_deb" $relation)'"
done
gui_depends=$(field "$gui_deb" Depends)
echo "kvz-cdi Depends: $gui_depends"
echo "$gui_depends" | tr ',' '\n' | grep -qx " *kvz-cdi-cli (= $version)" ||
    fail "kvz-cdi does not depend on kvz-cdi-cli (= $version)"
echo "$gui_depends" | grep -q 'libfltk1.3' || fail "kvz-cdi does not depend on FLTK"
for deb in "$cli_deb" "$gui_deb"; do
    [ "$(field "$deb" Version)" = "$version" ] || fail "$deb is not version $version"
done
echo "ok: both are version $version; Depends, Recommends, Breaks and Replaces as they should be"

echo "--- install kvz-cdi-cli alone"
$sudo dpkg -i "$cli_deb"
cli_listed=$(dpkg -L kvz-cdi-cli)
[ ! -e /usr/bin/kvz-cdi ] || fail "/usr/bin/kvz-cdi is there with kvz-cdi-cli alone"
[ "$(/usr/bin/kvz-cdi-cli --version)" = "kvz-cdi-cli $upstream" ] ||
    fail "/usr/bin/kvz-cdi-cli --version does not print kvz-cdi-cli $upstream"
echo "ok: /usr/bin/kvz-cdi-cli --version prints kvz-cdi-cli $upstream"
ldd /usr/bin/kvz-cdi-cli
! ldd /usr/bin/kvz-cdi-cli | grep -i -E 'fltk|libX|libxcb|libfontconfig|libGL' ||
    fail "the installed kvz-cdi-cli loads a toolkit or display library"
echo "ok: the installed kvz-cdi-cli loads no FLTK and no X11"
appstreamcli validate --no-net /usr/share/metainfo/io.github.kvz_cdi.kvz_cdi_cli.metainfo.xml
packaging/check-completion.sh

echo "--- install kvz-cdi"
$sudo dpkg -i "$gui_deb"
gui_listed=$(dpkg -L kvz-cdi)
[ "$(/usr/bin/kvz-cdi --version)" = "kvz-cdi $upstream" ] ||
    fail "/usr/bin/kvz-cdi --version does not print kvz-cdi $upstream"
echo "ok: /usr/bin/kvz-cdi --version prints kvz-cdi $upstream"
for program in kvz-cdi kvz-cdi-cli; do
    file -L /usr/bin/$program | grep -q ', stripped' || fail "/usr/bin/$program is not stripped"
done
for size in 16 24 32 48 64 128 256; do
    file /usr/share/icons/hicolor/${size}x$size/apps/kvz-cdi.png | grep -q "PNG image data, $size x $size," ||
        fail "no $size px icon"
done
echo "ok: both programs stripped; icons of 16 to 256 px"
appstreamcli validate --no-net /usr/share/metainfo/io.github.kvz_cdi.kvz_cdi.metainfo.xml
desktop-file-validate /usr/share/applications/kvz-cdi.desktop

echo "--- the .cdi file's type"
# content_type FILE: what the desktop takes FILE for.
content_type() {
    gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'
}
types=$(mktemp -d)
cp tests/fuzz_corpus/saved.cdi "$types/tune.cdi"
# Disc images are named *.cdi too; one that is no map file stays one.
head -c 4096 /usr/bin/kvz-cdi >"$types/disc.cdi"
[ "$(content_type "$types/tune.cdi")" = application/x-kvz-cdi ] ||
    fail "a saved map file is $(content_type "$types/tune.cdi")"
[ "$(content_type "$types/disc.cdi")" != application/x-kvz-cdi ] || fail "a binary .cdi is a map file"
opener=$(XDG_CURRENT_DESKTOP=GNOME xdg-mime query default application/x-kvz-cdi)
[ "$opener" = kvz-cdi.desktop ] || fail "map files open with '$opener'"
grep -q '<mediatype>application/x-kvz-cdi</mediatype>' /usr/share/metainfo/io.github.kvz_cdi.kvz_cdi.metainfo.xml ||
    fail "the metainfo does not name application/x-kvz-cdi"
echo "ok: a saved map file is application/x-kvz-cdi, a binary .cdi is $(content_type "$types/disc.cdi"), and map files open with kvz-cdi.desktop"

echo "--- upgrade from the single package"
# Up to 1.2.0 one package, kvz-cdi, held both programs. A stand-in for it,
# holding the files of both new packages, is installed and then upgraded
# to the pair as docs/user-guide.md says: kvz-cdi-cli takes its files
# over. (apt lets kvz-cdi-cli break the old kvz-cdi while it upgrades it; a
# plain dpkg -i of the two refuses.)
$sudo dpkg -P kvz-cdi kvz-cdi-cli
single=$(mktemp -d)
dpkg-deb -x "$cli_deb" "$single/root"
dpkg-deb -x "$gui_deb" "$single/root"
mkdir "$single/root/DEBIAN"
printf '%s\n' 'Package: kvz-cdi' "Version: $upstream" "Architecture: $(dpkg --print-architecture)" \
    'Maintainer: KVZ-CDI developers <maintainers@kvz-cdi.invalid>' 'Description: the single package of 1.2.0' \
    >"$single/root/DEBIAN/control"
dpkg-deb --root-owner-group --build "$single/root" "$single/kvz-cdi_$upstream.deb" >/dev/null
$sudo dpkg -i "$single/kvz-cdi_$upstream.deb"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "./$cli_deb" "./$gui_deb"
rm -rf "$single"
for package in kvz-cdi kvz-cdi-cli; do
    [ "$(dpkg-query -W -f '${Version} ${db:Status-Abbrev}' $package)" = "$version ii " ] ||
        fail "$package is not $version and installed after the upgrade"
done
[ "$(dpkg -S /usr/bin/kvz-cdi-cli)" = "kvz-cdi-cli: /usr/bin/kvz-cdi-cli" ] ||
    fail "/usr/bin/kvz-cdi-cli belongs to $(dpkg -S /usr/bin/kvz-cdi-cli)"
echo "ok: kvz-cdi $upstream upgrades to kvz-cdi and kvz-cdi-cli $version, which holds the command line's files"

echo "--- purge"
$sudo dpkg -P kvz-cdi kvz-cdi-cli
left=0
# A folder another package also holds stays; anything else must be gone.
for path in $cli_listed $gui_listed; do
    [ "$path" != /. ] || continue
    [ -e "$path" ] || [ -L "$path" ] || continue
    if [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then
        continue
    fi
    echo "left behind: $path"
    left=1
done
[ $left -eq 0 ] || exit 1
echo "ok: nothing of the $(echo "$cli_listed $gui_listed" | wc -w) paths dpkg listed is left"
[ "$(content_type "$types/tune.cdi")" != application/x-kvz-cdi ] || fail "the .cdi file's type outlived the purge"
rm -rf "$types"
echo "ok: the .cdi file's type went with the package"
echo "packages: $cli_deb $gui_deb"
