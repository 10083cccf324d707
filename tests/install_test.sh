#!/bin/sh
# Installs the build into a staging folder and checks what lands where.
set -eu
build_dir=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build_dir" --prefix "$stage/usr" >/dev/null

fail=0
# What each install component holds, and nothing else; the whole install is
# the two together.
cat >"$stage/expected" <<'EOF'
cli usr/bin/kvz-cdi-cli
cli usr/lib/udev/rules.d/70-kvz-cdi.rules
cli usr/share/bash-completion/completions/kvz-cdi-cli
cli usr/share/doc/kvz-cdi-cli/changelog.Debian.gz
cli usr/share/doc/kvz-cdi-cli/copyright
cli usr/share/man/man1/kvz-cdi-cli.1.gz
cli usr/share/metainfo/io.github.kvz_cdi.kvz_cdi_cli.metainfo.xml
gui usr/bin/kvz-cdi
gui usr/share/applications/kvz-cdi.desktop
gui usr/share/doc/kvz-cdi/changelog.Debian.gz
gui usr/share/doc/kvz-cdi/copyright
gui usr/share/icons/hicolor/scalable/apps/kvz-cdi.svg
gui usr/share/man/man1/kvz-cdi.1.gz
gui usr/share/metainfo/io.github.kvz_cdi.kvz_cdi.metainfo.xml
gui usr/share/mime/packages/kvz-cdi.xml
EOF
for size in 16 24 32 48 64 128 256; do
    echo "gui usr/share/icons/hicolor/${size}x$size/apps/kvz-cdi.png" >>"$stage/expected"
done
files_in() { (cd "$1" && find . ! -type d | sed 's|^\./||' | sort); }
cut -d ' ' -f 2 "$stage/expected" | sort >"$stage/all.expected"
files_in "$stage/usr" | sed 's|^|usr/|' | diff "$stage/all.expected" - || { echo "the whole install differs"; fail=1; }
for component in cli gui; do
    cmake --install "$build_dir" --prefix "$stage/$component/usr" --component $component >/dev/null
    sed -n "s/^$component //p" "$stage/expected" | sort >"$stage/$component.expected"
    if files_in "$stage/$component" | diff "$stage/$component.expected" -; then echo "ok: component $component"; else echo "component $component differs"; fail=1; fi
done

for program in kvz-cdi kvz-cdi-cli; do
    [ -x "$stage/usr/bin/$program" ] || { echo "$program is not executable"; fail=1; }
    # Both programs link the system's hidapi, never the simulated unit.
    if ldd "$stage/usr/bin/$program" | grep -q 'libhidapi-hidraw'; then
        echo "ok: $program links libhidapi-hidraw"
    else
        echo "$program does not link libhidapi-hidraw"; fail=1
    fi
    if nm -D --defined-only "$stage/usr/bin/$program" 2>/dev/null | grep -q ' hid_'; then
        echo "$program defines hid_* itself"; fail=1
    fi
    if nm -C "$stage/usr/bin/$program" 2>/dev/null | grep -q 'sim::'; then
        echo "$program holds the simulated unit's code"; fail=1
    fi
done
# The command-line program links no toolkit and no display library.
if ldd "$stage/usr/bin/kvz-cdi-cli" | grep -E 'libfltk|libX11|libXft'; then
    echo "kvz-cdi-cli links a toolkit or display library"; fail=1
else
    echo "ok: kvz-cdi-cli links no toolkit"
fi
if nm -C "$stage/usr/bin/kvz-cdi-cli" 2>/dev/null | grep -q ' Fl_'; then
    echo "kvz-cdi-cli holds toolkit code"; fail=1
fi
if find "$stage" -name '*sim*' | grep -q .; then
    echo "simulator files were installed:"; find "$stage" -name '*sim*'; fail=1
fi

rule=$stage/usr/lib/udev/rules.d/70-kvz-cdi.rules
grep -q '^KERNEL=="hidraw\*", ATTRS{idVendor}=="04d8", ATTRS{idProduct}=="003c", TAG+="uaccess"$' "$rule" \
    || { echo "udev rule line is not as expected"; fail=1; }
# uaccess only takes effect in rule files that sort before 73-seat-late.rules.
[ "$(printf '%s\n' 70-kvz-cdi.rules 73-seat-late.rules | sort | head -n1)" = 70-kvz-cdi.rules ] \
    || { echo "rule file sorts after 73-seat-late.rules"; fail=1; }

desktop-file-validate "$stage/usr/share/applications/kvz-cdi.desktop" || fail=1
grep -q '^Exec=kvz-cdi %f$' "$stage/usr/share/applications/kvz-cdi.desktop" || { echo "Exec line"; fail=1; }
grep -q '^Icon=kvz-cdi$' "$stage/usr/share/applications/kvz-cdi.desktop" || { echo "Icon line"; fail=1; }

# The software centre starts the program through the menu entry it names.
metainfo=$stage/usr/share/metainfo/io.github.kvz_cdi.kvz_cdi.metainfo.xml
launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$metainfo")
[ -n "$launchable" ] && [ -e "$stage/usr/share/applications/$launchable" ] \
    || { echo "the metainfo launches '$launchable', which is not installed"; fail=1; }

# Every place that names the release names the program's own version: the
# changelog's newest entry, the metainfo's newest release, the man page.
version=$("$stage/usr/bin/kvz-cdi" --version | sed -n 's/^kvz-cdi //p')
[ -n "$version" ] || { echo "kvz-cdi --version printed no version"; fail=1; }
check_version() {
    if [ "$2" = "$version" ]; then echo "ok: $1 is $version"; else echo "$1 is '$2', not '$version'"; fail=1; fi
}
for package in kvz-cdi kvz-cdi-cli; do
    check_version "$package's changelog's newest entry" \
        "$(gzip -dc "$stage/usr/share/doc/$package/changelog.Debian.gz" | sed -n "1s/^$package (\([^)]*\)-[0-9]*).*/\1/p")"
done
check_version "metainfo's newest release" \
    "$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n1)"
check_version "man page's version" \
    "$(gzip -dc "$stage/usr/share/man/man1/kvz-cdi.1.gz" | sed -n 's/^\.TH KVZ-CDI 1 [^ ]* "kvz-cdi \([^"]*\)".*/\1/p')"
check_version "kvz-cdi-cli --version" "$("$stage/usr/bin/kvz-cdi-cli" --version | sed -n 's/^kvz-cdi-cli //p')"
check_version "kvz-cdi-cli's man page's version" \
    "$(gzip -dc "$stage/usr/share/man/man1/kvz-cdi-cli.1.gz" | sed -n 's/^\.TH KVZ-CDI-CLI 1 [^ ]* "kvz-cdi-cli \([^"]*\)".*/\1/p')"

exit $fail
