#!/bin/bash
# The release's install check, run by `make dist` (not by `make test`): the
# installer, the installed programs and the uninstaller, for real under Wine,
# each time in new prefixes of its own.
#
#   64-bit Windows: silent installs for the current user and for all users put
#   the 64-bit build, its shortcuts and the uninstall key (with the version) in
#   place; the installed Quillmere.exe shows its window and qmcopy.exe /?
#   prints the version, neither importing more than system DLLs; the
#   uninstaller removes all of it, file by file, keeping the settings file
#   and a list saved beside the exe. The 32-bit build reads and writes the
#   settings file the 64-bit one does.
#   32-bit Windows: the installer picks the 32-bit build, which starts, copies
#   a folder (from its window and with qmcopy) and imports only system DLLs.
#
# install-check.sh SETUP STAGE PROBE VERSION FILE_VERSION
#   STAGE: the folder holding win64/ and win32/, the exes the installer carries
#   PROBE: dist_probe.exe (tests/tools/dist_probe.cpp), a 32-bit build
# It brings its own virtual display; screenshots of the installed program go
# to build-dist/check/.
set -u
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
if [ -z "${QM_DIST_CHECK_DISPLAY:-}" ]; then
  export QM_DIST_CHECK_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi
SETUP="$1" STAGE="$2" PROBE="$3" VERSION="$4" FILE_VERSION="$5"

WORK="$ROOT/build-dist/check"
P64="$ROOT/build-x64/wineprefix"
P32="$ROOT/build-x86/wineprefix"
rm -rf "$WORK"
mkdir -p "$WORK/home"
export WINEDEBUG=-all
# No Mono or Gecko prompt; no menu entries or file types for what gets
# installed, and a home of its own, so nothing reaches this machine's desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME="$WORK/home"

stop_wine() {
  for p in "$P64" "$P32"; do
    [ -d "$p" ] && WINEPREFIX="$p" wineserver -k >/dev/null 2>&1
  done
  true
}
trap stop_wine EXIT

failed=0
check() {  # what, command...: says ok or FAIL (with what the command said)
  local what="$1" out
  shift
  if out="$("$@" 2>&1)"; then
    echo "  ok    $what"
  else
    echo "  FAIL  $what"
    [ -n "$out" ] && sed 's/^/          /' <<< "$out" | head -20
    failed=$((failed + 1))
  fi
}

use_prefix() {  # prefix, arch
  export WINEPREFIX="$1" WINEARCH="$2"
}

new_prefix() {  # prefix, arch: a new prefix, made as the project's are
  use_prefix "$1" "$2"
  rm -rf "$1"
  mkdir -p "$1"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Wine links the user's Desktop and documents to $HOME: real folders
  # instead, so the shortcuts stay inside the prefix.
  local link
  for link in "$1"/drive_c/users/*/*; do
    [ -L "$link" ] && rm "$link" && mkdir "$link"
  done
  # Chinese fonts and one Wine desktop for every window.
  iconv -f UTF-8 -t UTF-16 "$ROOT/scripts/wine-prefix.reg" > "$1/drive_c/quillmere-prefix.reg"
  wine regedit /S 'C:\quillmere-prefix.reg' >/dev/null 2>&1
  wineserver -w
  USER_DIR="$(find "$1/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -1)"
}

win() { winepath -w "$1" 2>/dev/null; }

probe() { wine "$PROBE" "$@"; }

# Checks, each true or false with a word on failure.
has_files() {  # dir, names...
  local dir="$1" name missing=""
  shift
  for name in "$@"; do [ -f "$dir/$name" ] || missing="$missing $name"; done
  [ -z "$missing" ] || { echo "missing in $dir:$missing"; return 1; }
}
lacks() {  # paths...
  local path left=""
  for path in "$@"; do [ -e "$path" ] && left="$left $path"; done
  [ -z "$left" ] || { echo "still there:$left"; return 1; }
}
same_build() {  # installed dir, staged dir
  cmp "$1/Quillmere.exe" "$2/Quillmere.exe" && cmp "$1/qmcopy.exe" "$2/qmcopy.exe"
}
key_version() {  # root (HKCU/HKLM), view (32/64)
  local out
  out="$(wine reg query "$1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmere" /reg:"$2" 2>&1)"
  grep -q "DisplayVersion *REG_SZ *$VERSION" <<< "$out" &&
    grep -q "Publisher *REG_SZ" <<< "$out" && grep -q "DisplayIcon *REG_SZ" <<< "$out" &&
    grep -q "EstimatedSize *REG_DWORD" <<< "$out" && grep -q "UninstallString *REG_SZ" <<< "$out" ||
    { echo "$out"; return 1; }
}
no_key() {
  ! wine reg query "$1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmere" /reg:"$2" >/dev/null 2>&1
}
version_resource() {  # exe, description, original name
  local out
  out="$(probe version "$(win "$1")")" || return 1
  for line in "Fixed=$FILE_VERSION" "FileVersion=$FILE_VERSION" "ProductVersion=$VERSION" "ProductName=Quillmere" \
    "FileDescription=$2" "OriginalFilename=$3"; do
    grep -qx "$line" <<< "$(tr -d '\r' <<< "$out")" || { echo "no $line in:"; echo "$out"; return 1; }
  done
}
shows_window() {  # exe, screenshot
  local log="$WORK/probe.log"
  probe start "$(win "$1")" 5 > "$log" 2>&1 &
  local pid=$! n
  for n in $(seq 600); do grep -q "^shown" "$log" && break; kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if grep -q "^shown" "$log"; then
    # The X side may show the window a moment after Windows' side does.
    for n in $(seq 40); do xwininfo -root -tree 2>/dev/null | grep -q '"quillmere.exe"' && break; sleep 0.1; done
    sleep 0.5
    import -window root "$2" 2>/dev/null
  fi
  wait $pid || { cat "$log"; return 1; }
}
usage_has_version() {  # qmcopy.exe
  local out status
  out="$(wine "$1" /? 2>&1)"
  status=$?
  [ $status = 0 ] || { echo "exit code $status"; return 1; }
  head -1 <<< "$out" | grep -q "^qmcopy $VERSION：" || { echo "first line: $(head -1 <<< "$out")"; return 1; }
}
ini_says() {  # file, value
  tr -d '\r' < "$1" 2>/dev/null | grep -qx "SameFile=$2" || { echo "$1: $(cat "$1" 2>&1)"; return 1; }
}
ticked() {  # exe, expected, [choose]: the exe shows what is stored and stores its choice
  local out
  out="$(probe policy "$(win "$1")" ${3:+"$3"})" || return 1
  grep -qx "ticked: $2" <<< "$(tr -d '\r' <<< "$out")" || { echo "$out"; return 1; }
}
system_imports_only() {  # exe, objdump
  local dlls bad
  dlls="$("$2" -p "$1" | awk '/DLL Name:/ { print tolower($3) }' | sort -u)"
  bad="$(grep -vxE '(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|advapi32|msvcrt|ntdll|version|uxtheme)\.dll' <<< "$dlls")"
  [ -n "$dlls" ] && [ -z "$bad" ] || { echo "imports: $(tr '\n' ' ' <<< "$dlls")"; return 1; }
}
same_tree() {  # a, b
  diff -r "$1" "$2"
}

FILES=(Quillmere.exe qmcopy.exe README.txt LICENSE.txt uninstall.exe)
UNINSTALL_LIST="我的列表.lst"  # what a user saved beside the exe

# install_round mode dir start-menu desktop root view staged label
install_round() {
  local mode="$1" dir="$2" menu="$3" desktop="$4" root="$5" view="$6" staged="$7" label="$8"
  echo "-- $label: setup /S /$mode"
  check "the installer ends with 0" wine "$SETUP" /S "/$mode"
  check "the files are in $(win "$dir")" has_files "$dir" "${FILES[@]}"
  check "they are the $label build" same_build "$dir" "$staged"
  check "the Start-menu shortcut is there" has_files "$menu" Quillmere.lnk
  check "the desktop shortcut is there" has_files "$desktop" Quillmere.lnk
  check "the uninstall key ($root, $view-bit view) carries $VERSION" key_version "$root" "$view"
  check "Quillmere.exe's version: $FILE_VERSION" version_resource "$dir/Quillmere.exe" "Quillmere 批量文件复制工具" Quillmere.exe
  check "qmcopy.exe's version: $FILE_VERSION" version_resource "$dir/qmcopy.exe" "Quillmere 批量文件复制工具（命令行）" qmcopy.exe
  check "the installed Quillmere.exe shows its window" shows_window "$dir/Quillmere.exe" "$WORK/installed-$label-$mode.png"
  check "the installed qmcopy.exe /? ends with 0 and names $VERSION" usage_has_version "$dir/qmcopy.exe"
}

uninstall_round() {  # dir start-menu desktop root view
  local dir="$1" menu="$2" desktop="$3" root="$4" view="$5"
  echo "list" > "$dir/$UNINSTALL_LIST"
  echo "-- uninstall.exe /S"
  # The uninstaller runs on from a copy of itself: wait for every process.
  check "the uninstaller ends with 0" wine "$dir/uninstall.exe" /S
  wineserver -w
  local f gone=()
  for f in "${FILES[@]}"; do gone+=("$dir/$f"); done
  check "the installed files are gone" lacks "${gone[@]}"
  check "the shortcuts are gone" lacks "$menu/Quillmere.lnk" "$desktop/Quillmere.lnk"
  check "the uninstall key is gone" no_key "$root" "$view"
  check "the list saved beside the exe stays" has_files "$dir" "$UNINSTALL_LIST"
  rm -f "$dir/$UNINSTALL_LIST"
  rmdir "$dir" 2>/dev/null
}

echo "== 64-bit Windows (a new win64 prefix)"
new_prefix "$P64" win64
SYS="$P64/drive_c/windows/system32"
LOCAL="$USER_DIR/AppData/Local"
USER_MENU="$USER_DIR/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
ALL_MENU="$P64/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
PUBLIC_DESKTOP="$P64/drive_c/users/Public/Desktop"

dir="$LOCAL/Programs/Quillmere"
install_round CurrentUser "$dir" "$USER_MENU" "$USER_DIR/Desktop" HKCU 64 "$STAGE/win64" win64
check "Quillmere.exe imports only system DLLs" system_imports_only "$dir/Quillmere.exe" x86_64-w64-mingw32-objdump
check "qmcopy.exe imports only system DLLs" system_imports_only "$dir/qmcopy.exe" x86_64-w64-mingw32-objdump
rm -f "$SYS/Tandrel.ini"
check "the installed Quillmere.exe stores its settings" ticked "$dir/Quillmere.exe" "自动编号同名文件" "跳过"
check "in the system directory" ini_says "$SYS/Tandrel.ini" 2
uninstall_round "$dir" "$USER_MENU" "$USER_DIR/Desktop" HKCU 64
check "the settings file stays" ini_says "$SYS/Tandrel.ini" 2

dir="$P64/drive_c/Program Files/Quillmere"
install_round AllUsers "$dir" "$ALL_MENU" "$PUBLIC_DESKTOP" HKLM 64 "$STAGE/win64" win64
uninstall_round "$dir" "$ALL_MENU" "$PUBLIC_DESKTOP" HKLM 64

echo "-- the 32-bit build on 64-bit Windows shares the 64-bit build's settings file"
rm -f "$SYS/Tandrel.ini" "$P64/drive_c/windows/syswow64/Tandrel.ini"
rm -rf "$LOCAL/Quillmere"
check "the 64-bit build stores 跳过" ticked "$STAGE/win64/Quillmere.exe" "自动编号同名文件" "跳过"
check "the 32-bit build reads 跳过 and stores 覆盖" ticked "$STAGE/win32/Quillmere.exe" "跳过" "覆盖"
check "into the 64-bit system directory" ini_says "$SYS/Tandrel.ini" 1
check "and nowhere else" lacks "$P64/drive_c/windows/syswow64/Tandrel.ini" "$LOCAL/Quillmere/Tandrel.ini"
check "the 64-bit build reads 覆盖" ticked "$STAGE/win64/Quillmere.exe" "覆盖"
mkdir -p "$P64/drive_c/qmcheck"
check "the 32-bit qmcopy reads it too" \
  bash -c "wine '$STAGE/win32/qmcopy.exe' '/src:C:\\windows\\win.ini' '/dst:C:\\qmcheck' /dry-run | head -1 | grep '同名文件：覆盖'"
wineserver -k

echo "== 32-bit Windows (a new win32 prefix)"
new_prefix "$P32" win32
dir="$P32/drive_c/Program Files/Quillmere"
install_round AllUsers "$dir" "$P32/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" \
  "$P32/drive_c/users/Public/Desktop" HKLM 32 "$STAGE/win32" win32
check "Quillmere.exe imports only system DLLs" system_imports_only "$dir/Quillmere.exe" i686-w64-mingw32-objdump
check "qmcopy.exe imports only system DLLs" system_imports_only "$dir/qmcopy.exe" i686-w64-mingw32-objdump
src="$P32/drive_c/qmcheck/资料"
mkdir -p "$src/2026/第1季度" "$src/空文件夹"
echo "说明" > "$src/说明.txt"
head -c 300000 /dev/urandom > "$src/2026/第1季度/数据.bin"
echo "a" > "$src/2026/a.txt"
check "Quillmere.exe copies a folder from its window" probe copy "$(win "$dir/Quillmere.exe")" "$(win "$src")" 'C:\qmcheck\窗口'
check "every file and folder arrived" same_tree "$src" "$P32/drive_c/qmcheck/窗口/资料"
mkdir -p "$P32/drive_c/qmcheck/命令行"
check "qmcopy.exe copies a folder" wine "$dir/qmcopy.exe" "/src:$(win "$src")" '/dst:C:\qmcheck\命令行' /quiet
check "every file and folder arrived" same_tree "$src" "$P32/drive_c/qmcheck/命令行/资料"
uninstall_round "$dir" "$P32/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" \
  "$P32/drive_c/users/Public/Desktop" HKLM 32
wineserver -k

check "nothing reached this machine's desktop or menus" lacks "$HOME/Desktop" "$HOME/.local/share/applications"

if [ "$failed" -ne 0 ]; then
  echo "install check: $failed failed" >&2
  exit 1
fi
echo "install check: all passed (screenshots in $WORK)"
