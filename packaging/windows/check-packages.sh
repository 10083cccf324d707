#!/bin/sh
# Checks the ZIP and the installer cpack left in a Windows build folder.
# The ZIP holds the programs and the licence texts; each program imports
# only DLLs that Windows itself has (Wine's system32 stands in for it), so
# no MinGW-w64 runtime DLL is missing beside it; kvz-cdi.exe is a GUI
# program, any other a console program. The installer, run silently under
# Wine, puts the same files under Program Files with an uninstaller, a
# Start-menu shortcut and an entry in the list of installed programs; the
# uninstaller takes all of them away again. Wine uses the WINEPREFIX it is
# given, already set up (wineboot).
#
# Usage: check-packages.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
package=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The files of a folder, one relative path a line, sorted.
files_in() {
    (cd "$1" && find . -type f | sort)
}

# ---------------------------------------------------------------- the ZIP
zip=$build/$package.zip
[ -f "$zip" ] || fail "no $zip"
(cd "$work" && cmake -E tar xf "$zip")
unpacked=$work/$package
[ -f "$unpacked/bin/kvz-cdi.exe" ] || fail "the ZIP has no bin/kvz-cdi.exe"
licences="FLTK.txt hidapi.txt hidapi-BSD.txt MinGW-w64-runtime.txt GCC-runtime.txt"
[ ! -f "$(dirname "$0")/../../LICENSE" ] || licences="KVZ-CDI.txt $licences"
for licence in $licences; do
    [ -s "$unpacked/licenses/$licence" ] || fail "the ZIP has no licenses/$licence"
done

system32=$WINEPREFIX/drive_c/windows/system32
for exe in "$unpacked"/bin/*.exe; do
    program=$(basename "$exe")
    x86_64-w64-mingw32-objdump -p "$exe" >"$work/headers"
    for dll in $(sed -n 's/^\tDLL Name: //p' "$work/headers"); do
        [ -e "$system32/$(echo "$dll" | tr '[:upper:]' '[:lower:]')" ] ||
            fail "$program imports $dll, which Windows does not have"
    done
    if [ "$program" = kvz-cdi.exe ]; then subsystem="Windows GUI"; else subsystem="Windows CUI"; fi
    grep -q "^Subsystem.*($subsystem)" "$work/headers" ||
        fail "$program is not a $subsystem program: $(grep '^Subsystem' "$work/headers")"
    echo "ok: $program, $subsystem, imports $(sed -n 's/^\tDLL Name: //p' "$work/headers" | tr '\n' ' ')"
done
echo "ok: $package.zip: $(files_in "$unpacked" | wc -l) files, licence texts $licences"

# ---------------------------------------------------------------- the installer
installer=$build/$package.exe
[ -f "$installer" ] || fail "no $installer"
program_files=$(timeout 60 winepath -u 'C:\Program Files')
start_menu=$(timeout 60 winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs')
installed=$program_files/KVZ-CDI
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KVZ-CDI'
[ ! -e "$installed" ] || fail "$installed is there before the installer ran"

timeout 300 wine "$installer" /S || fail "the installer failed (status $?)"
[ -f "$installed/Uninstall.exe" ] || fail "no Uninstall.exe in $installed"
files_in "$installed" | grep -vx './Uninstall.exe' >"$work/installed"
files_in "$unpacked" >"$work/zipped"
cmp -s "$work/installed" "$work/zipped" || {
    diff "$work/zipped" "$work/installed" >&2 || true
    fail "the installer and the ZIP hold different files"
}
[ -f "$start_menu/KVZ-CDI/KVZ-CDI.lnk" ] || fail "no Start-menu shortcut KVZ-CDI\\KVZ-CDI.lnk"
timeout 60 wine reg query "$uninstall_key" >"$work/registry" || fail "no entry in the list of installed programs"
grep -q 'DisplayName.*KVZ-CDI' "$work/registry" || fail "the entry has no display name"
echo "ok: $package.exe installs $(wc -l <"$work/installed") files and Uninstall.exe in C:\\Program Files\\KVZ-CDI, the Start-menu shortcut and the uninstall entry"

# The uninstaller copies itself to the temporary folder and goes on from
# there, so its end is waited for by what it removes.
timeout 60 wine "$installed/Uninstall.exe" /S || fail "the uninstaller failed (status $?)"
deadline=$(($(date +%s) + 120))
while [ -e "$installed" ] || [ -e "$start_menu/KVZ-CDI" ]; do
    [ "$(date +%s)" -lt "$deadline" ] ||
        fail "120 s after uninstalling, left: $(find "$installed" "$start_menu/KVZ-CDI" 2>/dev/null | tr '\n' ' ')"
    sleep 0.2
done
! timeout 60 wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall entry is still there"
echo "ok: the uninstaller removed the program folder, the shortcut and the uninstall entry"
