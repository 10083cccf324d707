#!/bin/sh
# Checks the ZIP and the installer cpack left in a Windows build folder.
# The ZIP holds the programs and the licence texts; each program imports
# only DLLs that Windows itself has (Wine's system32 stands in for it), so
# no MinGW-w64 runtime DLL is missing beside it; kvz-cdi.exe is a GUI
# program, any other a console program; each carries the application
# manifest and the icon with its 256 px image. The installer, run silently
# under Wine, puts the same files under Program Files with an uninstaller,
# a Start-menu shortcut and an entry in the list of installed programs,
# and puts its bin folder on the system PATH, so kvz-cdi-cli runs by name;
# the uninstaller takes all of them away again, the PATH entry and every
# registry key of the installer's included. The installer makes .cdi map
# files open with kvz-cdi.exe where .cdi had no default, which Explorer
# then follows. A second round with a system PATH too long for the
# installer, and .cdi belonging to another program, leaves both as they
# were. Wine uses the WINEPREFIX it is given, already set up (wineboot),
# and the X display it is given (start it through tests/run-under-xvfb.sh).
#
# Usage: check-packages.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
package=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# printf, not echo: the texts hold Windows paths, whose backslashes
# sh's echo would read as escapes.
fail() {
    printf 'FAIL: %s\n' "$*" >&2
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
    x86_64-w64-mingw32-windres -i "$exe" -O rc >"$work/resources"
    grep -q '^1 24 /\* RT_MANIFEST \*/' "$work/resources" || fail "$program has no application manifest"
    for setting in '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' \
        'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
        '>UTF-8</activeCodePage>' '>false</dpiAware>'; do
        grep -a -q -F "$setting" "$exe" || fail "$program's manifest lacks $setting"
    done
    # The 256 px image is the one the icon holds as PNG (0x89 "PNG").
    grep -q '^1 14 /\* RT_GROUP_ICON \*/' "$work/resources" && grep -q '0x474e5089L' "$work/resources" ||
        fail "$program's icon has no 256 px image"
    echo "ok: $program has the manifest (Windows 10/11, common controls 6, UTF-8, not DPI-aware) and a 256 px icon"
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

# The bin folder is on the system PATH, and a Command Prompt started after
# the install finds kvz-cdi-cli by name from anywhere.
bin='C:\Program Files\KVZ-CDI\bin'
environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
system_path() {
    timeout 60 wine reg query "$environment" /v PATH | tr -d '\r' | sed -n 's/^ *PATH *REG_[A-Z_]*SZ *//p'
}
system_path | tr ';' '\n' | grep -qxF "$bin" || fail "the system PATH has no $bin: $(system_path)"
found=$(timeout 60 wine cmd /c 'cd /d C:\ && kvz-cdi-cli --version' | tr -d '\r')
[ "$found" = "kvz-cdi-cli $(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")" ] ||
    fail "kvz-cdi-cli by name from C:\\ gave '$found'"
printf 'ok: %s is on the system PATH, and kvz-cdi-cli runs by name from C:\\\n' "$bin"

# The installer made its ProgID the default for .cdi, which had none, and
# Explorer, asked to open a map file, starts kvz-cdi.exe with it.
classes='HKLM\Software\Classes'
association() {
    timeout 60 wine cmd /c assoc .cdi | tr -d '\r'
}
[ "$(association)" = .cdi=KVZ-CDI.cdi ] || fail ".cdi files are '$(association)', not KVZ-CDI.cdi"
command=$(timeout 60 wine cmd /c ftype KVZ-CDI.cdi | tr -d '\r')
[ "$command" = 'KVZ-CDI.cdi="C:\Program Files\KVZ-CDI\bin\kvz-cdi.exe" "%1"' ] ||
    fail "KVZ-CDI.cdi opens with '$command'"
cp "$(dirname "$0")/../../tests/fuzz_corpus/saved.cdi" "$work/tune.cdi"
timeout 60 wineserver -w
timeout 60 wine start /unix "$work/tune.cdi"
deadline=$(($(date +%s) + 120))
until xdotool search --onlyvisible --name '^KVZ-CDI v1\.2\.0 - .*tune\.cdi$' >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$deadline" ] || fail "opening tune.cdi showed no window titled with it within 120 s"
    sleep 0.5
done
# Ended by Wine itself: a key sent to a Wine window can race the window's
# re-creation and take xdotool down with an X error.
timeout 60 wineserver -k || true
timeout 60 wineserver -w
printf 'ok: .cdi files open with %s: tune.cdi opened in a window titled with it\n' "$command"

# uninstall: runs the uninstaller silently and waits until what it removes
# is gone (it copies itself to the temporary folder and goes on from there).
uninstall() {
    timeout 60 wine "$installed/Uninstall.exe" /S || fail "the uninstaller failed (status $?)"
    deadline=$(($(date +%s) + 120))
    while [ -e "$installed" ] || [ -e "$start_menu/KVZ-CDI" ]; do
        [ "$(date +%s)" -lt "$deadline" ] ||
            fail "120 s after uninstalling, left: $(find "$installed" "$start_menu/KVZ-CDI" 2>/dev/null | tr '\n' ' ')"
        sleep 0.2
    done
    timeout 60 wineserver -w
}
uninstall
! timeout 60 wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall entry is still there"
! system_path | grep -qiF 'KVZ-CDI' || fail "the system PATH still names KVZ-CDI: $(system_path)"
for root in 'HKLM\Software' 'HKCU\Software'; do
    timeout 120 wine reg query "$root" /s | tr -d '\r' | grep -i 'kvz' >"$work/left" &&
        fail "registry keys left under $root: $(cat "$work/left")"
done
! timeout 60 wine reg query "$classes\.cdi" >/dev/null 2>&1 || fail "the .cdi key is still there"
echo "ok: the uninstaller removed the program folder, the shortcut, the uninstall entry, the PATH entry, the .cdi file type and every registry key"

# Another program's .cdi files: the default and the values it set stay
# through the install and the uninstall, which only offers KVZ-CDI.cdi
# beside it and takes the offer back.
timeout 60 wine reg add "$classes\.cdi" /ve /d OtherTool.Image /f >/dev/null
timeout 60 wine reg add "$classes\.cdi" /v "Content Type" /d application/x-other-image /f >/dev/null
other_values() {
    timeout 60 wine reg query "$classes\.cdi" | tr -d '\r' | grep -E 'REG_SZ' | sort
}
other_values >"$work/other-before"

# A system PATH longer than the installer's 1024 characters stays exactly
# as it was, through the install and the uninstall.
long_path=$(system_path)
i=0
while [ ${#long_path} -le 1100 ]; do
    i=$((i + 1))
    long_path="$long_path;C:\\Tools\\tool-number-$i\\bin"
done
timeout 60 wine reg add "$environment" /v PATH /t REG_EXPAND_SZ /d "$long_path" /f >/dev/null
timeout 300 wine "$installer" /S || fail "the installer failed with a long PATH (status $?)"
timeout 60 wineserver -w
[ -f "$installed/bin/kvz-cdi-cli.exe" ] || fail "with a long PATH, the installer installed nothing"
[ "$(system_path)" = "$long_path" ] || fail "the installer changed a PATH of ${#long_path} characters"
[ "$(association)" = .cdi=OtherTool.Image ] || fail "the installer took .cdi from another program: $(association)"
timeout 60 wine reg query "$classes\.cdi\OpenWithProgids" /v KVZ-CDI.cdi >/dev/null ||
    fail "the installer did not offer KVZ-CDI.cdi for .cdi beside another program"
uninstall
[ "$(system_path)" = "$long_path" ] || fail "the uninstaller changed a PATH of ${#long_path} characters"
echo "ok: a system PATH of ${#long_path} characters stays as it was through the install and the uninstall"
other_values | cmp -s "$work/other-before" - || fail "the uninstaller changed another program's .cdi: $(other_values)"
! timeout 60 wine reg query "$classes\.cdi\OpenWithProgids" >/dev/null 2>&1 ||
    fail "the uninstaller left .cdi's OpenWithProgids"
! timeout 120 wine reg query 'HKLM\Software' /s | tr -d '\r' | grep -i 'kvz' || fail "registry keys of KVZ-CDI left"
echo "ok: another program's .cdi default and values stay through the install and the uninstall"
