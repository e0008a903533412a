#!/usr/bin/env bash
# Tries the Windows installer under Wine as the user of a new machine would, in a Wine prefix of
# its own made afresh: silent install, the installed files, the Start-menu shortcut, the
# uninstall entry, the installed program's --version and resources, installing again over it,
# installing and uninstalling while it runs, the silent uninstall with what it leaves, and a
# folder of the user's choice that a later install finds again.
#   scripts/check-installer.sh [BUILD_DIR]   (default build-windows, as scripts/build-windows.sh
#                                             leaves it: the setup and tests/installer-probe.exe)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/apt-lib.sh

packages=(wine wine64 unzip icoutils coreutils findutils diffutils grep sed)
install_packages "${packages[@]}"

build_dir=$(cd "${1:-build-windows}" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
setup=$build_dir/veltrace-$version-setup-x64.exe
zip_file=$build_dir/veltrace-$version-windows-x64.zip
probe=$build_dir/tests/installer-probe.exe
for file in "$setup" "$zip_file" "$probe"; do
    [ -f "$file" ] || { echo "check-installer: $file is missing" >&2; exit 1; }
done

export VELTRACE_WINE_PREFIX_ROOT=$build_dir/wine-installer
rm -rf "$VELTRACE_WINE_PREFIX_ROOT"
prefix=$VELTRACE_WINE_PREFIX_ROOT/null
run() { timeout 300 "$root/scripts/wine-run.sh" "$@"; }
finish() {
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    "$root/scripts/wine-run.sh" --stop
}
trap finish EXIT

passed=0
failed=0
check() { # NAME EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'check-installer: %s: expected [%s], got [%s]\n' "$1" "$2" "$3" >&2
    fi
}

install_dir='C:\Program Files\Veltrace'
unix_install=$prefix/drive_c/Program\ Files/Veltrace
shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Veltrace.lnk'
unix_shortcut=$prefix/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Veltrace.lnk
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrace'

listing() { (cd "$1" && find . -mindepth 1 | sed 's|^\./||' | sort | tr '\n' ' '); }
registry_value() { # NAME: the value's text ("" if absent)
    run reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
wait_for_window() { # 0 once the program's window is open, within a minute
    for _ in $(seq 60); do
        run "$probe" window VeltraceWindow && return 0
        sleep 1
    done
    return 1
}

echo "== silent install"
status=0
run "$setup" /S || status=$?
check "silent install's exit status" 0 "$status"
check "installed files" "LICENSE.txt Uninstall.exe readme.txt third-party-notices.txt veltrace.exe " \
      "$(listing "$unix_install" 2>/dev/null)"
for text in readme.txt LICENSE.txt third-party-notices.txt; do
    same=no
    unzip -p "$zip_file" "$text" | cmp -s - "$unix_install/$text" && same=yes
    check "installed $text is the zip's" yes "$same"
done

# The shipped program is stripped: it must still carry the icon and version resources that
# tests_program_file checks in the built one, the same bytes each.
resources() { # FILE: each resource with a checksum of its bytes
    wrestool -l "$1" | sed 's/offset=0x[0-9a-f]* *//' | while read -r type name language rest; do
        printf '%s %s %s %s %s\n' "$type" "$name" "$language" "$rest" \
            "$(wrestool -x --raw "$type" "$name" "$language" "$1" | sha256sum | cut -c1-16)"
    done
}
installed_resources=$(resources "$unix_install/veltrace.exe")
check "installed veltrace.exe's resources are the built one's" \
      "$(resources "$build_dir/veltrace.exe")" "$installed_resources"
check "installed veltrace.exe has icon 1 and a version" "1 1" \
      "$(grep -c -- '--type=14 --name=1 ' <<<"$installed_resources") $(grep -c -- '--type=16 --name=1 ' <<<"$installed_resources")"

echo "== Start-menu shortcut"
shortcut_info=$(run "$probe" shortcut "$shortcut" | tr -d '\r' || true)
check "shortcut's target" "target=$install_dir\\veltrace.exe" "$(grep '^target=' <<<"$shortcut_info")"
check "shortcut's working folder" 'workdir=%USERPROFILE%' "$(grep '^workdir=' <<<"$shortcut_info")"
check "shortcut's arguments" 'arguments=' "$(grep '^arguments=' <<<"$shortcut_info")"

echo "== uninstall entry"
check DisplayName Veltrace "$(registry_value DisplayName)"
check DisplayVersion "$version" "$(registry_value DisplayVersion)"
check Publisher Okrinsel "$(registry_value Publisher)"
check DisplayIcon "$install_dir\\veltrace.exe,0" "$(registry_value DisplayIcon)"
check InstallLocation "$install_dir" "$(registry_value InstallLocation)"
check UninstallString "\"$install_dir\\Uninstall.exe\"" "$(registry_value UninstallString)"
check QuietUninstallString "\"$install_dir\\Uninstall.exe\" /S" "$(registry_value QuietUninstallString)"
# In KiB: the installed files' size, give or take the rounding of each file.
estimated=$(( $(registry_value EstimatedSize) ))
actual=$(( $(cat "$unix_install"/* | wc -c) / 1024 ))
check "EstimatedSize near the files' $actual KiB" yes \
      "$([ "$estimated" -ge $((actual - 8)) ] && [ "$estimated" -le $((actual + 8)) ] && echo yes || echo "no ($estimated)")"

echo "== the installed program"
check "--version" "Veltrace V$version" "$(run "$install_dir\\veltrace.exe" --version | tr -d '\r')"

echo "== install again over it"
# The user's files: in the profile folder the shortcut starts in, and one that someone who ran
# the program as administrator left in the program's folder.
profile=$prefix/drive_c/users/$(id -un)
printf '[Veltrace]\r\nCOMPort=COM3\r\n' > "$profile/Veltrace.ini"
printf 'not really a picture' > "$profile/capture-0001.png"
printf '[Veltrace]\r\nCOMPort=COM4\r\n' > "$unix_install/Veltrace.ini"
user_files=("$profile/Veltrace.ini" "$profile/capture-0001.png" "$unix_install/Veltrace.ini")
user_sums=$(sha256sum "${user_files[@]}")
echo "an older guide" >> "$unix_install/readme.txt"
status=0
run "$setup" /S || status=$?
check "second install's exit status" 0 "$status"
same=no
unzip -p "$zip_file" readme.txt | cmp -s - "$unix_install/readme.txt" && same=yes
check "second install replaced the program's files" yes "$same"
check "second install kept the user's files" "$user_sums" "$(sha256sum "${user_files[@]}" 2>&1)"

echo "== while Veltrace runs"
installed_sums=$(sha256sum "$unix_install"/*)
(cd "$profile" && run "$install_dir\\veltrace.exe" >/dev/null 2>&1 &)
running=no
wait_for_window && running=yes
check "the installed program started" yes "$running"
status=0
run "$setup" /S || status=$?
check "install while it runs is refused (exit status)" 2 "$status"
check "install while it runs changed nothing" "$installed_sums" "$(sha256sum "$unix_install"/* 2>&1)"
# In place (_?=), so this process is the uninstaller and its exit status is the answer; Wine
# would quote a path with a space, which the uninstaller does not take, hence the short name.
short_dir=$(run winepath -s "$install_dir" | tr -d '\r')
status=0
run "$install_dir\\Uninstall.exe" /S "_?=$short_dir" || status=$?
check "uninstall while it runs is refused (exit status)" 2 "$status"
check "uninstall while it runs changed nothing" "$installed_sums" "$(sha256sum "$unix_install"/* 2>&1)"
check "uninstall while it runs kept the shortcut" yes "$([ -f "$unix_shortcut" ] && echo yes || echo no)"
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true

echo "== silent uninstall, as Apps & features runs it"
quiet=$(registry_value QuietUninstallString)
uninstaller=${quiet%\" /S}
uninstaller=${uninstaller#\"}
run "$uninstaller" /S || true
# The uninstaller runs on from a copy of itself in the temporary folder: wait for its work.
for _ in $(seq 60); do
    [ -e "$unix_install/Uninstall.exe" ] || [ -n "$(registry_value DisplayName)" ] || break
    sleep 1
done
check "left in the program's folder" "Veltrace.ini " "$(listing "$unix_install" 2>/dev/null)"
check "shortcut removed" no "$([ -e "$unix_shortcut" ] && echo yes || echo no)"
check "uninstall entry removed" "" "$(registry_value DisplayName)"
check "uninstall kept the user's files" "$user_sums" "$(sha256sum "${user_files[@]}" 2>&1)"

echo "== a folder of the user's choice"
run "$setup" /S '/D=C:\Tools\Veltrace' || true
unix_tools=$prefix/drive_c/Tools/Veltrace
check "installed into the chosen folder" "LICENSE.txt Uninstall.exe readme.txt third-party-notices.txt veltrace.exe " \
      "$(listing "$unix_tools" 2>/dev/null)"
check "InstallLocation of the chosen folder" 'C:\Tools\Veltrace' "$(registry_value InstallLocation)"
# Installing again without a folder goes where the installed one is.
echo "an older guide" >> "$unix_tools/readme.txt"
run "$setup" /S || true
same=no
unzip -p "$zip_file" readme.txt | cmp -s - "$unix_tools/readme.txt" && same=yes
check "a later install replaced the one in the chosen folder" yes "$same"
check "a later install put nothing into Program Files" "Veltrace.ini " "$(listing "$unix_install" 2>/dev/null)"

echo "Installer under Wine: $passed checks passed, $failed failed"
[ "$failed" -eq 0 ]
