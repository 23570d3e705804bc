#!/bin/bash
# The release's install check, run by `make dist` (not by `make test`): the
# installer, the installed programs and the uninstaller, for real under Wine,
# each time in new prefixes of its own; and the release's signatures.
#
#   Signatures: the release's, when it is signed, verified against
#   $QM_SIGN_CA; and always a copy of the release signed with a test
#   certificate made here, each signature verified (and a file changed after
#   signing refused), that copy installed and its installed files verified.
#   64-bit Windows: silent installs for the current user and for all users put
#   the 64-bit build, its shortcuts and the uninstall key (with the version) in
#   place; the installed Quillmere.exe shows its window (the screenshot shows
#   it where Windows says it is) and qmcopy.exe /? prints the version, neither
#   importing more than system DLLs; each file's version information is its
#   own and the exes' manifests name the Windows versions they support. The
#   installer's pages, driven as a user does: the size it asks for is what it
#   installs, the folder page says which mode, the desktop shortcut follows
#   the last choice (and the switches), an all-users install offers no 运行.
#   While Quillmere runs, the installer and the uninstaller change nothing,
#   say so (interactively) or end with 3 (silently); a file that cannot be
#   written ends the install with 2, never 0. An install of the other mode is
#   refused with 4, or interactively removed first. The uninstaller, run as
#   the uninstall key's QuietUninstallString says, ends with its true code
#   and removes all of it, file by file, keeping the settings file and a
#   list saved beside the exe. The 32-bit build reads and writes the
#   settings file the 64-bit one does.
#   32-bit Windows: the installer picks the 32-bit build, which starts, copies
#   a folder (from its window and with qmcopy) and imports only system DLLs.
#
# install-check.sh OUT STAGE PROBE VERSION FILE_VERSION
#   OUT: the release (dist/); STAGE: the folder holding win64/, win32/ and
#   uninstall.exe, what the installer carries
#   PROBE: dist_probe.exe (tests/tools/dist_probe.cpp), a 32-bit build
# It brings its own virtual display; screenshots of the installed program and
# of the installer's pages and boxes go to build-dist/check/.
set -u
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
if [ -z "${QM_DIST_CHECK_DISPLAY:-}" ]; then
  export QM_DIST_CHECK_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi
OUT="$1" STAGE="$2" PROBE="$3" VERSION="$4" FILE_VERSION="$5"
NAME="Quillmere-$VERSION"
SETUP="$OUT/$NAME-setup.exe"

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
passed=0
check() {  # what, command...: says ok or FAIL (with what the command said)
  local what="$1" out
  shift
  if out="$("$@" 2>&1)"; then
    echo "  ok    $what"
    passed=$((passed + 1))
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
  cmp "$1/Quillmere.exe" "$2/Quillmere.exe" && cmp "$1/qmcopy.exe" "$2/qmcopy.exe" &&
    cmp "$1/uninstall.exe" "$STAGE/uninstall.exe" && cmp "$1/README.txt" "$STAGE/docs/README.txt"
}
KEY='Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmere'
reg_value() {  # root (HKCU/HKLM), view (32/64), name: its data
  wine reg query "$1\\$KEY" /v "$3" /reg:"$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$3 *REG_[A-Z]* *//p"
}
key_version() {  # root, view
  local out
  out="$(wine reg query "$1\\$KEY" /reg:"$2" 2>&1)"
  grep -q "DisplayVersion *REG_SZ *$VERSION" <<< "$out" &&
    grep -q "Publisher *REG_SZ *the Quillmere authors" <<< "$out" && grep -q "DisplayIcon *REG_SZ" <<< "$out" &&
    grep -q "EstimatedSize *REG_DWORD" <<< "$out" && grep -q "UninstallString *REG_SZ" <<< "$out" ||
    { echo "$out"; return 1; }
}
quiet_in_place() {  # root, view, dir: QuietUninstallString runs the uninstaller in place
  local quiet
  quiet="$(reg_value "$1" "$2" QuietUninstallString)"
  [ "$quiet" = "\"$(win "$3")\\uninstall.exe\" /S /$( [ "$1" = HKLM ] && echo AllUsers || echo CurrentUser) _?=$(win "$3")" ] ||
    { echo "QuietUninstallString: $quiet"; return 1; }
}
no_key() {
  ! wine reg query "$1\\$KEY" /reg:"$2" >/dev/null 2>&1
}
key_says() {  # root, view, name, data
  local data
  data="$(reg_value "$1" "$2" "$3")"
  [ "$data" = "$4" ] || { echo "$3: \"$data\", not \"$4\""; return 1; }
}
version_resource() {  # exe, description, original name
  local out line
  out="$(probe version "$(win "$1")")" || return 1
  for line in "Fixed=$FILE_VERSION" "FileVersion=$FILE_VERSION" "ProductVersion=$VERSION" "ProductName=Quillmere" \
    "FileDescription=$2" "OriginalFilename=$3" "CompanyName=the Quillmere authors" \
    "LegalCopyright=Copyright (c) the Quillmere authors, MIT 许可证"; do
    grep -qxF "$line" <<< "$(tr -d '\r' <<< "$out")" || { echo "no $line in:"; echo "$out"; return 1; }
  done
}
supports_windows_7_to_11() {  # exe: its manifest's supportedOS, each Windows from 7 on
  local out id
  out="$(probe manifest "$(win "$1")")" || return 1
  for id in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
    1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -qi "<supportedOS Id=\"{$id}\"/>" <<< "$out" || { echo "no supportedOS $id in:"; echo "$out"; return 1; }
  done
}
pixel() {  # png x y: the colour there, as rrggbb
  convert "$1" -format '%[hex:p{'"$2,$3"'}]' info: 2>/dev/null | tr 'A-F' 'a-f' | cut -c1-6
}
near() {  # rrggbb rrggbb: the same colour, give or take 8 a channel
  local i a b
  for i in 0 2 4; do
    a=$((16#${1:$i:2})) b=$((16#${2:$i:2}))
    [ $((a - b)) -le 8 ] && [ $((b - a)) -le 8 ] || return 1
  done
}
shows_window() {  # exe, screenshot: the screenshot shows the main window where Windows put it
  local log="$WORK/probe.log"
  probe start "$(win "$1")" 5 > "$log" 2>&1 &
  local pid=$! n
  for n in $(seq 600); do grep -q "^colours" "$log" && break; kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if grep -q "^colours" "$log"; then
    # The X side may show the window a moment after Windows' side does.
    for n in $(seq 40); do xwininfo -root -tree 2>/dev/null | grep -q '"quillmere.exe"' && break; sleep 0.1; done
    sleep 0.5
    import -window root "$2" 2>/dev/null
  fi
  wait $pid || { cat "$log"; return 1; }
  [ -f "$2" ] || { echo "no screenshot"; return 1; }
  local cl ct cr cb l t r b active gradient face x y seen
  read -r cl ct cr cb < <(tr -d '\r' < "$log" | sed -n 's/^client: //p')
  read -r l t r b < <(tr -d '\r' < "$log" | sed -n 's/^caption: //p')
  read -r active gradient face < <(tr -d '\r' < "$log" | sed -n 's/^colours: //p')
  # The bottom corners of the client area are bare: the window's face.
  for x in $((cl + 4)) $((cr - 5)); do
    seen="$(pixel "$2" "$x" $((cb - 5)))"
    near "$seen" "$face" || { echo "($x,$((cb - 5))) is $seen, not the window's $face"; cat "$log"; return 1; }
  done
  # The caption's middle, past its text: the active caption's colour (or its
  # gradient's), not the desktop.
  x=$(((l + r) / 2)) y=$(((t + b) / 2))
  seen="$(pixel "$2" "$x" "$y")"
  near "$seen" "$active" || near "$seen" "$gradient" ||
    { echo "caption ($x,$y) is $seen, not $active or $gradient"; cat "$log"; return 1; }
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
exits() {  # code, program, arguments...: it ends with that code
  local want="$1" status
  shift
  wine "$@"
  status=$?
  [ "$status" = "$want" ] || { echo "exit code $status, not $want"; return 1; }
}
ran_with() {  # code, log: the probe's exec or drive said the program ended so
  grep -qx "exit: $1" <(tr -d '\r' < "$2") || { cat "$2"; return 1; }
}
quiet_uninstall() {  # root, view, log: runs the key's QuietUninstallString
  local quiet
  quiet="$(reg_value "$1" "$2" QuietUninstallString)"
  [ -n "$quiet" ] || { echo "no QuietUninstallString"; return 1; }
  probe exec "$quiet" > "$3" 2>&1
  grep -q "^exit: " "$3" || { cat "$3"; return 1; }
}
# drive log command-line steps...: dist_probe drive, taking the screenshots it
# asks for (build-dist/check/NAME.png, the window it names), its words in log.
drive() {
  local log="$1" pid line word name l t r b
  shift
  : > "$log"
  probe drive "$(win "$WORK")" "$@" >> "$log" 2>&1 &
  pid=$!
  while :; do
    while read -r word name l t r b; do
      [ "$word" = shot ] && [ ! -f "$WORK/$name.png" ] || continue
      import -window root "$WORK/screen.png" 2>/dev/null
      convert "$WORK/screen.png" -crop "$((r - l))x$((b - t))+$l+$t" +repage "$WORK/$name.tmp.png" &&
        mv "$WORK/$name.tmp.png" "$WORK/$name.png"
    done < <(tr -d '\r' < "$log")
    kill -0 $pid 2>/dev/null || break
    sleep 0.2
  done
  wait $pid || { cat "$log"; return 1; }
}
said() {  # log, text: the page or box the probe read said it
  grep -qF -- "$2" "$1" || { cat "$1"; return 1; }
}
never_said() {  # log, texts...
  local text
  for text in "${@:2}"; do
    ! grep -qF -- "$text" "$1" || { echo "said $text:"; cat "$1"; return 1; }
  done
}
asks_for_what_it_installs() {  # log of the components page, dir
  local shown total
  shown="$(sed -n 's/.*所需空间: \([0-9.]*\) MB.*/\1/p' "$1" | head -1)"
  [ -n "$shown" ] || { cat "$1"; return 1; }
  total="$(cd "$2" && stat -c %s Quillmere.exe qmcopy.exe README.txt LICENSE.txt uninstall.exe | awk '{ t += $1 } END { print t }')"
  awk -v s="$shown" -v t="$total" 'BEGIN { m = t / 1048576; exit !(s - m <= 0.1 && m - s <= 0.1) }' ||
    { echo "the page asks for $shown MB; $total bytes are installed"; return 1; }
}
signed_by() {  # certificate, files...: each signature verifies against it
  local cert="$1" f bad=""
  shift
  for f in "$@"; do
    osslsigncode verify -CAfile "$cert" -in "$f" > "$WORK/verify.log" 2>&1 || bad="$bad $f"
  done
  [ -z "$bad" ] || { echo "not verified:$bad"; cat "$WORK/verify.log"; return 1; }
}
unsigned() {  # file
  ! osslsigncode verify -in "$1" >/dev/null 2>&1 || { echo "$1 carries a signature"; return 1; }
}
refuses_a_changed_file() {  # certificate, signed file
  cp "$2" "$WORK/changed.exe"
  printf 'Q' | dd of="$WORK/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
  ! osslsigncode verify -CAfile "$1" -in "$WORK/changed.exe" >/dev/null 2>&1 || { echo "a changed file verified"; return 1; }
}
readme_for_users() {  # README.txt: one voice, Chinese bullets, the switches, the codes, where qmcopy is
  local text word
  text="$(iconv -f UTF-8 -t UTF-8 "$1")" || return 1
  for word in 您 ・; do
    ! grep -qF "$word" <<< "$text" || { echo "says $word"; return 1; }
  done
  for word in /S /CurrentUser /AllUsers /NoDesktopShortcut /D= "_?=" "3     Quillmere 或 qmcopy 正在运行" \
    "4     已经以另一种方式" "740" "PATH" "目标文件夹必须已经存在"; do
    grep -qF -- "$word" <<< "$text" || { echo "does not say $word"; return 1; }
  done
}
unzipped() {  # zip, dir
  rm -rf "$2" && mkdir -p "$2" && unzip -q "$1" -d "$2"
}

FILES=(Quillmere.exe qmcopy.exe README.txt LICENSE.txt uninstall.exe)
UNINSTALL_LIST="我的列表.lst"  # what a user saved beside the exe
RUNNING="Quillmere 正在运行。请先关闭它，然后点击“重试”。"
IDOK=1 IDCANCEL=2 IDRETRY=4 IDYES=6 IDNO=7

# install_round mode dir start-menu desktop root view staged label
install_round() {
  local mode="$1" dir="$2" menu="$3" desktop="$4" root="$5" view="$6" staged="$7" label="$8"
  echo "-- $label: setup /S /$mode"
  check "the installer ends with 0" exits 0 "$SETUP" /S "/$mode"
  check "the files are in $(win "$dir")" has_files "$dir" "${FILES[@]}"
  check "they are the $label build" same_build "$dir" "$staged"
  check "the Start-menu shortcut is there" has_files "$menu" Quillmere.lnk
  check "the desktop shortcut is there" has_files "$desktop" Quillmere.lnk
  check "the uninstall key ($root, $view-bit view) carries $VERSION" key_version "$root" "$view"
  check "its QuietUninstallString runs the uninstaller in place (_?=)" quiet_in_place "$root" "$view" "$dir"
  check "Quillmere.exe's version: $FILE_VERSION, with its maker and copyright" \
    version_resource "$dir/Quillmere.exe" "Quillmere 批量文件复制工具" Quillmere.exe
  check "qmcopy.exe's version: $FILE_VERSION, with its maker and copyright" \
    version_resource "$dir/qmcopy.exe" "Quillmere 批量文件复制工具（命令行）" qmcopy.exe
  check "uninstall.exe's version says it is the uninstaller" \
    version_resource "$dir/uninstall.exe" "Quillmere $VERSION 卸载程序" uninstall.exe
  check "Quillmere.exe's manifest supports Windows 7 to 11" supports_windows_7_to_11 "$dir/Quillmere.exe"
  check "qmcopy.exe's manifest supports Windows 7 to 11" supports_windows_7_to_11 "$dir/qmcopy.exe"
  check "the installed Quillmere.exe shows its window (screenshot: caption and face where Windows puts them)" \
    shows_window "$dir/Quillmere.exe" "$WORK/installed-$label-$mode.png"
  check "the installed qmcopy.exe /? ends with 0 and names $VERSION" usage_has_version "$dir/qmcopy.exe"
  check "README.txt says 你, not 您, lists the switches, the exit codes and where qmcopy.exe is" \
    readme_for_users "$dir/README.txt"
}

# uninstall_round dir start-menu desktop root view: as a deployment tool does
uninstall_round() {
  local dir="$1" menu="$2" desktop="$3" root="$4" view="$5"
  echo "list" > "$dir/$UNINSTALL_LIST"
  echo "-- the uninstall key's QuietUninstallString (uninstall.exe /S _?=folder)"
  local log="$WORK/uninstall.log"
  check "the uninstaller runs in place" quiet_uninstall "$root" "$view" "$log"
  check "and ends with 0" ran_with 0 "$log"
  local f gone=()
  for f in "${FILES[@]}"; do [ "$f" = uninstall.exe ] || gone+=("$dir/$f"); done
  check "the installed files are gone" lacks "${gone[@]}"
  check "the shortcuts are gone" lacks "$menu/Quillmere.lnk" "$desktop/Quillmere.lnk"
  check "the uninstall key is gone" no_key "$root" "$view"
  check "the list saved beside the exe stays" has_files "$dir" "$UNINSTALL_LIST"
  check "the uninstaller stays, for the caller to remove" has_files "$dir" uninstall.exe
  rm -f "$dir/$UNINSTALL_LIST" "$dir/uninstall.exe"
  rmdir "$dir" 2>/dev/null
}

echo "== signatures"
if [ -n "${QM_SIGN_CA:-}" ]; then
  unzipped "$OUT/$NAME-win64.zip" "$WORK/release/win64"
  unzipped "$OUT/$NAME-win32.zip" "$WORK/release/win32"
  check "the release's setup, uninstaller and exes verify against $QM_SIGN_CA" signed_by "$QM_SIGN_CA" \
    "$SETUP" "$STAGE/uninstall.exe" "$WORK"/release/win*/*.exe
else
  check "the release is unsigned (no certificate given)" unsigned "$SETUP"
fi
# A release of our own, signed with a test certificate made here.
SIGNED="$WORK/signed"
mkdir -p "$SIGNED/key"
TEST_CERT="$SIGNED/key/cert.pem"
openssl req -x509 -newkey rsa:3072 -nodes -days 30 -subj "/CN=Quillmere test signer/O=the Quillmere authors" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=critical,digitalSignature" \
  -addext "basicConstraints=critical,CA:FALSE" -keyout "$SIGNED/key/key.pem" -out "$TEST_CERT" >/dev/null 2>&1
check "a release signed with a test certificate is made" \
  env QM_SIGN_CERT="$TEST_CERT" QM_SIGN_KEY="$SIGNED/key/key.pem" QM_SIGN_TIMESTAMP= QM_SIGN_PASS_FILE= \
  "$ROOT/scripts/package.sh" "$SIGNED/stage" "$SIGNED/out"
SIGNED_SETUP="$SIGNED/out/$NAME-setup.exe"
unzipped "$SIGNED/out/$NAME-win64.zip" "$SIGNED/win64"
unzipped "$SIGNED/out/$NAME-win32.zip" "$SIGNED/win32"
check "its setup verifies" signed_by "$TEST_CERT" "$SIGNED_SETUP"
check "its uninstaller verifies" signed_by "$TEST_CERT" "$SIGNED/stage/uninstall.exe"
check "its four exes, as zipped, verify" signed_by "$TEST_CERT" "$SIGNED"/win64/*.exe "$SIGNED"/win32/*.exe
check "a signed file changed afterwards does not verify" refuses_a_changed_file "$TEST_CERT" "$SIGNED_SETUP"

echo "== 64-bit Windows (a new win64 prefix)"
new_prefix "$P64" win64
SYS="$P64/drive_c/windows/system32"
LOCAL="$USER_DIR/AppData/Local"
USER_MENU="$USER_DIR/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
USER_DESKTOP="$USER_DIR/Desktop"
ALL_MENU="$P64/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
PUBLIC_DESKTOP="$P64/drive_c/users/Public/Desktop"
SETUP_W="\"$(win "$SETUP")\""

check "the setup's version says it is the installer" \
  version_resource "$SETUP" "Quillmere $VERSION 安装程序" "$NAME-setup.exe"

dir="$LOCAL/Programs/Quillmere"
install_round CurrentUser "$dir" "$USER_MENU" "$USER_DESKTOP" HKCU 64 "$STAGE/win64" win64
check "Quillmere.exe imports only system DLLs" system_imports_only "$dir/Quillmere.exe" x86_64-w64-mingw32-objdump
check "qmcopy.exe imports only system DLLs" system_imports_only "$dir/qmcopy.exe" x86_64-w64-mingw32-objdump
rm -f "$SYS/Tandrel.ini"
check "the installed Quillmere.exe stores its settings" ticked "$dir/Quillmere.exe" "自动编号同名文件" "跳过"
check "in the system directory" ini_says "$SYS/Tandrel.ini" 2

echo "-- an upgrade, driven as a user does (no switch: the install's own mode), unticking the desktop shortcut"
log="$WORK/upgrade.log"
check "the pages go by and the installer ends with 0" drive "$log" "$SETUP_W" \
  page=欢迎 shot=page-welcome next page=所需空间 ticked=1:1 tree=1:0 shot=page-components next \
  page=仅为我安装 shot=page-folder-upgrade next page=完成 shot=page-finish-current-user uncheck=运行 next exit=0
check "the components page asks for what one build installs" asks_for_what_it_installs "$log" "$dir"
check "the folder page says 仅为我安装, and that it is upgraded in place" said "$log" "将在原处更新"
check "the finish page of a per-user install offers 运行 Quillmere" said "$log" "运行 Quillmere"
check "the old desktop shortcut is gone" lacks "$USER_DESKTOP/Quillmere.lnk"
check "the Start-menu shortcut stays" has_files "$USER_MENU" Quillmere.lnk
check "the install stays this user's: no all-users key" no_key HKLM 64
check "nor a second folder" lacks "$P64/drive_c/Program Files/Quillmere"
check "setup /S upgrades it and ends with 0" exits 0 "$SETUP" /S
check "the desktop shortcut stays away, as chosen last" lacks "$USER_DESKTOP/Quillmere.lnk"
log="$WORK/cancel.log"
check "the components page shows it unticked; 取消 then ends with 1" drive "$log" "$SETUP_W" \
  page=欢迎 next page=所需空间 ticked=1:0 shot=page-components-remembered cancel box=确定要退出 answer=$IDYES exit=1
check "setup /S /DesktopShortcut ends with 0" exits 0 "$SETUP" /S /DesktopShortcut
check "and makes it" has_files "$USER_DESKTOP" Quillmere.lnk
check "setup /S /NoDesktopShortcut ends with 0" exits 0 "$SETUP" /S /NoDesktopShortcut
check "and removes it" lacks "$USER_DESKTOP/Quillmere.lnk"
check "everything installed is this release's" same_build "$dir" "$STAGE/win64"

echo "-- while Quillmere runs"
# An older install, as it shows: other bytes in two files, another version.
echo "old" > "$dir/README.txt"
cp "$STAGE/win32/qmcopy.exe" "$dir/qmcopy.exe"
wine reg add "HKCU\\$KEY" /v DisplayVersion /d 0.1 /f /reg:64 >/dev/null 2>&1
(cd "$dir" && sha256sum "${FILES[@]}") > "$WORK/before.sums"
old_files() {
  (cd "$dir" && sha256sum --quiet -c "$WORK/before.sums") && key_says HKCU 64 DisplayVersion 0.1 &&
    has_files "$USER_MENU" Quillmere.lnk
}
: > "$WORK/hold.log"
probe hold "$(win "$dir/Quillmere.exe")" >> "$WORK/hold.log" 2>&1 &
hold=$!
for n in $(seq 600); do grep -q shown "$WORK/hold.log" && break; sleep 0.1; done
check "setup /S ends with 3" exits 3 "$SETUP" /S
check "and changes nothing" old_files
log="$WORK/running.log"
check "interactively it asks to close the program (重试 asks again), and 取消 ends with 3" drive "$log" "$SETUP_W" \
  page=欢迎 next page=所需空间 next page=仅为我安装 next box=Quillmere shot=box-running answer=$IDRETRY \
  box=Quillmere answer=$IDCANCEL page=安装中止 shot=page-aborted cancel exit=3
check "the box says \"$RUNNING\"" said "$log" "box: $RUNNING"
check "no page said it was installed" never_said "$log" "已经成功安装"
check "and nothing changed" old_files
log="$WORK/uninstall-running.log"
check "the uninstall key's QuietUninstallString" quiet_uninstall HKCU 64 "$log"
check "ends with 3" ran_with 3 "$log"
check "and removes nothing" old_files
log="$WORK/uninstall-running-ui.log"
check "the uninstaller, run in place, asks to close the program; 取消 ends with 3" drive "$log" \
  "\"$(win "$dir/uninstall.exe")\" _?=$(win "$dir")" \
  page=卸载 next box=Quillmere shot=box-uninstall-running answer=$IDCANCEL page=卸载中止 cancel exit=3
check "its box says \"$RUNNING\"" said "$log" "box: $RUNNING"
check "and it removed nothing" old_files
check "Quillmere closes" probe close
wait $hold

echo "-- a file that cannot be written (a folder stands under its name)"
rm "$dir/README.txt"
mkdir "$dir/README.txt"
check "setup /S ends with 2, not 0" exits 2 "$SETUP" /S
check "and the uninstall key does not say $VERSION" key_says HKCU 64 DisplayVersion 0.1
log="$WORK/file-error.log"
check "interactively the box offers no 忽略; 取消 ends with 2" drive "$log" "$SETUP_W" \
  page=欢迎 next page=所需空间 next page=仅为我安装 next box=无法写入文件 shot=box-file-error answer=$IDCANCEL \
  page=安装中止 cancel exit=2
check "the box is Chinese throughout, with no [Abort] nor 忽略" never_said "$log" "[Abort]" "[Retry]" "忽略" "Ignore"
check "it names the file" said "$log" "$(win "$dir/README.txt")"
rmdir "$dir/README.txt"
check "the folder gone, setup /S ends with 0" exits 0 "$SETUP" /S
check "everything installed is this release's" same_build "$dir" "$STAGE/win64"
check "the uninstall key carries $VERSION" key_says HKCU 64 DisplayVersion "$VERSION"

echo "-- one install per machine or user: the all-users one asked for while this user's is there"
check "setup /S /AllUsers ends with 4" exits 4 "$SETUP" /S /AllUsers
check "no all-users key" no_key HKLM 64
check "no folder in Program Files" lacks "$P64/drive_c/Program Files/Quillmere"
check "this user's install stays" key_says HKCU 64 DisplayVersion "$VERSION"
log="$WORK/other-no.log"
check "interactively it says this user's install is there; 否 ends with 4" drive "$log" "$SETUP_W /AllUsers" \
  box=已经仅为你安装 shot=box-other-mode answer=$IDNO exit=4
check "the box names its folder" said "$log" "$(win "$dir")"
check "nothing changed" key_says HKCU 64 DisplayVersion "$VERSION"
log="$WORK/other-yes.log"
check "是 removes it first; the pages go by and the installer ends with 0" drive "$log" "$SETUP_W /AllUsers" \
  box=已经仅为你安装 answer=$IDYES page=欢迎 next page=所需空间 next page=为所有用户安装 shot=page-folder-all-users \
  next page=完成 absent=运行 shot=page-finish-all-users next exit=0
check "the finish page offers no 运行 Quillmere" never_said "$log" "运行 Quillmere"
check "this user's install is gone: its key" no_key HKCU 64
check "its folder and its shortcut" lacks "$dir" "$USER_MENU/Quillmere.lnk"
dir="$P64/drive_c/Program Files/Quillmere"
check "the all-users install is there" key_says HKLM 64 InstallLocation "$(win "$dir")"
check "setup /S /CurrentUser now ends with 4" exits 4 "$SETUP" /S /CurrentUser
check "no key for this user" no_key HKCU 64

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

echo "-- the release signed with the test certificate: setup /S /CurrentUser /NoDesktopShortcut"
dir="$LOCAL/Programs/Quillmere"
check "the installer ends with 0" exits 0 "$SIGNED_SETUP" /S /CurrentUser /NoDesktopShortcut
check "no desktop shortcut" lacks "$USER_DESKTOP/Quillmere.lnk"
check "the Start-menu shortcut is there" has_files "$USER_MENU" Quillmere.lnk
check "the installed exes and uninstaller verify" signed_by "$TEST_CERT" "$dir/Quillmere.exe" "$dir/qmcopy.exe" \
  "$dir/uninstall.exe"
check "the installed Quillmere.exe shows its window" shows_window "$dir/Quillmere.exe" "$WORK/installed-signed.png"
uninstall_round "$dir" "$USER_MENU" "$USER_DESKTOP" HKCU 64
check "the settings file stays" ini_says "$SYS/Tandrel.ini" 1
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
  echo "install check: $passed passed, $failed failed" >&2
  exit 1
fi
echo "install check: $passed passed, 0 failed (screenshots in $WORK)"
