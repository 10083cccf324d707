#!/bin/sh
# The Windows release, built and checked on Debian as CI does it: installs
# MinGW-w64, Wine, NSIS and the rest (through sudo when not root), builds
# the libraries the programs link (cached, scripts/build-windows-deps.sh),
# cross-builds everything into build-windows/, runs the unit tests under
# Wine, starts kvz-cdi.exe under Wine and Xvfb and kvz-cdi-cli.exe under
# Wine, asks kvz-cdi.exe for --version, -V and --help from a Command
# Prompt and gives it an unknown option, then makes the installer and the
# ZIP and checks them under Xvfb (packaging/windows/check-packages.sh).
# Prints a timing line per part.
# Leaves
#   build-windows/kvz-cdi-<version>-win64.exe   the installer
#   build-windows/kvz-cdi-<version>-win64.zip   the programs and licence texts
#
# Not run under Wine, and why:
#   - the GUI tests (test_my_chart, test_map_editing, test_main_window,
#     test_option_bindings, test_startup, test_commands, test_status_poll):
#     they drive FLTK on an X display of their own;
#   - test_map_file, test_file_safety, test_platform_paths, test_cli: links,
#     file owners, file modes, file-size limits, fork and the environment
#     of POSIX;
#   - test_sim_preload: LD_PRELOAD is Linux's;
#   - e2e_* and install_layout: shell scripts about the Linux program.
# A Windows build does not define them (tests/CMakeLists.txt); the program
# itself is checked under Wine by packaging/windows/check-program.sh.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build="build-windows"

part_started=$(date +%s)
part_done() {
    now=$(date +%s)
    echo "=== windows $1: $((now - part_started)) s"
    part_started=$now
}

if [ "$(id -u)" -eq 0 ]; then sudo=; else sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends \
    cmake make pkg-config googletest \
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev \
    wine wine64 nsis imagemagick xvfb xdotool fonts-dejavu-core
part_done "tools install"

deps=$(scripts/build-windows-deps.sh)
part_done deps

# --fresh: the cache keeps what was found in the prefix, and a new prefix
# (new sources) must not meet the old one's paths. Unchanged files are not
# built again.
cmake --fresh -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=packaging/windows/mingw-w64.cmake \
    -DKVZ_WINDOWS_DEPS="$deps" -DCMAKE_BUILD_TYPE=Release -DKVZ_WERROR=ON
cmake --build "$build" -j "$jobs"
part_done build

# A Wine of its own, made afresh, without the .NET and HTML engines it
# would offer to download. Its first start is slow; every later wait is
# bounded by the step that makes it.
wine_dir=$(mktemp -d)
export WINEPREFIX="$wine_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; rm -rf "$wine_dir"' EXIT
timeout 600 wineboot --init
part_done "wine set-up"

ctest --test-dir "$build" -j "$jobs" --output-on-failure
part_done "unit tests under wine"

tests/run-under-xvfb.sh packaging/windows/check-program.sh "$build/app/kvz-cdi.exe" "$build/windows-check"
part_done "kvz-cdi.exe under wine"

# The command-line tool answers without a unit: its version, and status 3
# with one line when no unit is attached (Wine passes no USB device through).
cli="$build/cli/kvz-cdi-cli.exe"
[ "$(timeout 60 wine "$cli" --version | tr -d '\r')" = "kvz-cdi-cli $(sed -n 's/^project(kvz-cdi VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)" ] ||
    { echo "FAIL: kvz-cdi-cli.exe --version"; exit 1; }
status=0
timeout 60 wine "$cli" detect >"$build/windows-check/cli-detect.log" 2>&1 || status=$?
[ "$status" -eq 3 ] && grep -q "^kvz-cdi-cli: no unit found" "$build/windows-check/cli-detect.log" ||
    { echo "FAIL: kvz-cdi-cli.exe detect gave status $status:"; cat "$build/windows-check/cli-detect.log"; exit 1; }
echo "ok: kvz-cdi-cli.exe --version, and detect without a unit gives status 3"
part_done "kvz-cdi-cli.exe under wine"

# kvz-cdi.exe, a GUI program, prints --version in the Command Prompt that
# started it, and --help into the file the prompt redirects it to.
gui=$(timeout 60 winepath -w "$build/app/kvz-cdi.exe")
[ "$(timeout 60 wine cmd /c "$gui --version" | tr -d '\r')" = "kvz-cdi $(sed -n 's/^project(kvz-cdi VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)" ] ||
    { echo "FAIL: kvz-cdi.exe --version in a Command Prompt"; exit 1; }
help=$(timeout 60 winepath -w "$build/windows-check/help.txt")
timeout 60 wine cmd /c "$gui --help > $help"
grep -q '^Usage: kvz-cdi ' "$build/windows-check/help.txt" ||
    { echo "FAIL: kvz-cdi.exe --help redirected to a file"; exit 1; }
[ "$(timeout 60 wine cmd /c "$gui -V" | tr -d '\r')" = "kvz-cdi $(sed -n 's/^project(kvz-cdi VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)" ] ||
    { echo "FAIL: kvz-cdi.exe -V in a Command Prompt"; exit 1; }
status=0
timeout 60 wine "$build/app/kvz-cdi.exe" --bogus >"$build/windows-check/bogus.log" 2>&1 || status=$?
[ "$status" -eq 2 ] && grep -q '^kvz-cdi: unknown option --bogus (see kvz-cdi --help)' "$build/windows-check/bogus.log" ||
    { echo "FAIL: kvz-cdi.exe --bogus gave status $status:"; cat "$build/windows-check/bogus.log"; exit 1; }
echo "ok: kvz-cdi.exe --version and -V in a Command Prompt, --help redirected to a file, --bogus a usage error with status 2"
part_done "kvz-cdi.exe --help and --version under wine"

(cd "$build" && cpack -G "NSIS;ZIP")
tests/run-under-xvfb.sh packaging/windows/check-packages.sh "$build"
part_done "installer and zip"
