; The Quillmere installer, in Simplified Chinese. It installs the 64-bit build
; on 64-bit Windows and the 32-bit one elsewhere: per user, without
; administrator rights, in %LOCALAPPDATA%\Programs\Quillmere; or, when run as
; administrator, for all users in Program Files (the 64-bit one for the 64-bit
; build). One install per machine or user: an existing install is upgraded
; where it is, in its own mode.
;
; Switches (README.txt lists them for users, with the exit codes below):
;   /S                    silent
;   /CurrentUser          for this user only
;   /AllUsers             for all users (needs administrator rights)
;   /NoDesktopShortcut    no desktop shortcut (and removes an earlier one)
;   /DesktopShortcut      a desktop shortcut, whatever was chosen before
;   /D=folder             the folder of a new install; last, and unquoted
;
; scripts/dist.sh compiles this twice:
;   with UNINSTALLER_OUT: the uninstaller alone, with version information of
;     its own; !uninstfinalize signs it (when SIGN is given) and copies it to
;     UNINSTALLER_OUT. The installer made on the way is thrown away.
;   with UNINSTALLER_FILE (that file): the setup, which carries it as a file;
;     !finalize signs the setup when SIGN is given.
; Both get VERSION, VERSION_MAJOR, VERSION_MINOR, FILE_VERSION, COMPANY,
; COPYRIGHT, ICON and OUTFILE; the setup also X64_DIR and X86_DIR (the two
; builds' exes), X64_KB and X86_KB (what each installs, in KiB) and DOCS_DIR
; (README.txt, LICENSE.txt).

Unicode true
SetCompressor /SOLID lzma
ManifestDPIAware true
ManifestSupportedOS all
; Never asks for elevation: whoever runs it as administrator gets the
; all-users install.
RequestExecutionLevel user
; A file that cannot be written ends the install: never an install that
; says it succeeded with old files left.
AllowSkipFiles off

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include x64.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmere"
!define UNINSTALLER "uninstall.exe"
!define ERROR_ELEVATION_REQUIRED 740
; Exit codes of our own, beside NSIS's 0 (done), 1 (cancelled) and 2 (aborted).
!define EXIT_RUNNING 3      ; Quillmere is running: nothing changed
!define EXIT_OTHER_MODE 4   ; installed in the other mode: nothing changed
!define RUNNING_TEXT "Quillmere 正在运行。请先关闭它，然后点击“重试”。"

Name "Quillmere ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Quillmere ${VERSION}"
ShowInstDetails hide
ShowUninstDetails hide
FileErrorText "无法写入文件：$\r$\n$\r$\n$0$\r$\n$\r$\n如果 Quillmere 正在运行，请先关闭它，然后点击“重试”；点击“取消”停止安装。" \
  "无法写入文件：$\r$\n$\r$\n$0$\r$\n$\r$\n如果 Quillmere 正在运行，请先关闭它，然后点击“重试”；点击“取消”停止安装。"

Var AllUsers    ; 1: for all users (HKLM, Program Files), 0: for this user
Var IsAdmin     ; 1: this process has administrator rights
Var ModeSwitch  ; how the uninstaller is told which

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!ifdef UNINSTALLER_OUT
  !insertmacro MUI_UNPAGE_CONFIRM
  !insertmacro MUI_UNPAGE_INSTFILES
!else
  Var Upgrade     ; 1: an install of this mode is there, and is upgraded in place
  Var OtherDir    ; where the install of the other mode is, or ""
  Var DirText     ; the folder page's words: which mode, new or upgrade

  !define MUI_COMPONENTSPAGE_NODESC
  !insertmacro MUI_PAGE_WELCOME
  !insertmacro MUI_PAGE_COMPONENTS
  !define MUI_DIRECTORYPAGE_TEXT_TOP "$DirText"
  !define MUI_PAGE_CUSTOMFUNCTION_SHOW DirectoryShow
  !insertmacro MUI_PAGE_DIRECTORY
  !insertmacro MUI_PAGE_INSTFILES
  !define MUI_FINISHPAGE_RUN "$INSTDIR\Quillmere.exe"
  !define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishShow
  !insertmacro MUI_PAGE_FINISH
!endif

!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "Quillmere"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "${COPYRIGHT}"
!ifdef UNINSTALLER_OUT
  VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "Quillmere ${VERSION} 卸载程序"
  VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "OriginalFilename" "${UNINSTALLER}"
!else
  VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "Quillmere ${VERSION} 安装程序"
  VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "OriginalFilename" "Quillmere-${VERSION}-setup.exe"
!endif

!ifdef SIGN
  !ifdef UNINSTALLER_OUT
    !uninstfinalize '"${SIGN}" "%1"' = 0
  !else
    !finalize '"${SIGN}" "%1"' = 0
  !endif
!endif
!ifdef UNINSTALLER_OUT
  !uninstfinalize 'cp "%1" "${UNINSTALLER_OUT}" && chmod 644 "${UNINSTALLER_OUT}"' = 0
!endif

; Asks for the rights of an all-users install or uninstall: interactively by
; starting again through Windows' own prompt (once), silently by refusing
; with 740.
!macro RequireAdmin UN
  ${If} $IsAdmin != 1
    ClearErrors
    ${GetParameters} $0
    ${GetOptions} $0 "/Elevated" $1
    ${If} ${Errors}
    ${AndIfNot} ${Silent}
      ClearErrors
      !if "${UN}" == "un."
        ExecShell "runas" "$INSTDIR\${UNINSTALLER}" "/AllUsers /Elevated"
      !else
        ExecShell "runas" "$EXEPATH" "/AllUsers /Elevated"
      !endif
      ${IfNot} ${Errors}
        Quit
      ${EndIf}
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "为所有用户安装或卸载 Quillmere 需要管理员权限。$\r$\n请右键单击程序，选择“以管理员身份运行”。" /SD IDOK
    SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
    Quit
  ${EndIf}
!macroend

!macro FindRights
  ${If} ${RunningX64}
    SetRegView 64  ; the key beside the 64-bit programs', not in WOW6432Node
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  StrCpy $IsAdmin 0
  ${If} $0 == "Admin"
    StrCpy $IsAdmin 1
  ${EndIf}
!macroend

!macro SetMode
  ${If} $AllUsers == 1
    SetShellVarContext all
    StrCpy $ModeSwitch "/AllUsers"
  ${Else}
    SetShellVarContext current
    StrCpy $ModeSwitch "/CurrentUser"
  ${EndIf}
!macroend

; A running exe cannot be opened for writing, on Windows and under Wine alike:
; each installed exe is tried before any file is written or removed.
; Interactively the user closes the program and retries; silently, or on
; 取消, it ends with EXIT_RUNNING and nothing changed.
!macro CheckNotRunning UN
Function ${UN}CheckNotRunning
  ${Do}
    StrCpy $2 ""
    ${If} ${FileExists} "$INSTDIR\Quillmere.exe"
      ClearErrors
      FileOpen $1 "$INSTDIR\Quillmere.exe" a
      ${If} ${Errors}
        StrCpy $2 "Quillmere.exe"
      ${Else}
        FileClose $1
      ${EndIf}
    ${EndIf}
    ${If} $2 == ""
    ${AndIf} ${FileExists} "$INSTDIR\qmcopy.exe"
      ClearErrors
      FileOpen $1 "$INSTDIR\qmcopy.exe" a
      ${If} ${Errors}
        StrCpy $2 "qmcopy.exe"
      ${Else}
        FileClose $1
      ${EndIf}
    ${EndIf}
    ${If} $2 == ""
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${RUNNING_TEXT}" /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_RUNNING}
    Abort "Quillmere 正在运行，什么也没有改动。"
    retry:
  ${Loop}
FunctionEnd
!macroend

!ifndef UNINSTALLER_OUT

!insertmacro CheckNotRunning ""

Section "Quillmere（必需）" SecProgram
  SectionIn RO
  Call CheckNotRunning
  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${X64_DIR}/Quillmere.exe"
    File "${X64_DIR}/qmcopy.exe"
  ${Else}
    File "${X86_DIR}/Quillmere.exe"
    File "${X86_DIR}/qmcopy.exe"
  ${EndIf}
  File "${DOCS_DIR}/README.txt"
  File "${DOCS_DIR}/LICENSE.txt"
  File "/oname=${UNINSTALLER}" "${UNINSTALLER_FILE}"
  CreateShortCut "$SMPROGRAMS\Quillmere.lnk" "$INSTDIR\Quillmere.exe" "" "$INSTDIR\Quillmere.exe" 0 \
      SW_SHOWNORMAL "" "批量复制文件和文件夹"
SectionEnd

Section "桌面快捷方式" SecDesktop
  CreateShortCut "$DESKTOP\Quillmere.lnk" "$INSTDIR\Quillmere.exe" "" "$INSTDIR\Quillmere.exe" 0 \
      SW_SHOWNORMAL "" "批量复制文件和文件夹"
SectionEnd

; Windows' list of installed programs, and the choice to remember.
Section "-Register"
  ${If} ${SectionIsSelected} ${SecDesktop}
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "DesktopShortcut" 1
  ${Else}
    Delete "$DESKTOP\Quillmere.lnk"  ; unticked on an upgrade
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "DesktopShortcut" 0
  ${EndIf}
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Quillmere"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "VersionMajor" ${VERSION_MAJOR}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "VersionMinor" ${VERSION_MINOR}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quillmere.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" $ModeSwitch'
  ; In place (_?=, last): the caller gets the uninstaller's own exit code,
  ; and removes the uninstaller left behind.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S $ModeSwitch _?=$INSTDIR'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The install of the other mode is removed by its own uninstaller, run in
; place so that its exit code is its own; an all-users one asks for rights.
Function RemoveOtherInstall
  ${If} $AllUsers == 1
    StrCpy $2 "/CurrentUser"
  ${Else}
    StrCpy $2 "/AllUsers"
  ${EndIf}
  ${Do}
    StrCpy $1 ""
    ${If} $AllUsers == 0
    ${AndIf} $IsAdmin != 1
      ExecShellWait "runas" "$OtherDir\${UNINSTALLER}" "/S $2 _?=$OtherDir"
    ${Else}
      ExecWait '"$OtherDir\${UNINSTALLER}" /S $2 _?=$OtherDir' $1
    ${EndIf}
    ${If} $1 != ${EXIT_RUNNING}
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${RUNNING_TEXT}" IDRETRY retry
    SetErrorLevel ${EXIT_RUNNING}
    Quit
    retry:
  ${Loop}
  ${If} $AllUsers == 1
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${Else}
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $0 != ""
    MessageBox MB_OK|MB_ICONSTOP "未能卸载 $OtherDir 中的 Quillmere。请在“应用和功能”中卸载它，然后再运行安装程序。"
    SetErrorLevel ${EXIT_OTHER_MODE}
    Quit
  ${EndIf}
  ; Run in place, the uninstaller stays behind: the caller removes it.
  Delete "$OtherDir\${UNINSTALLER}"
  RMDir "$OtherDir"
FunctionEnd

Function .onInit
  !insertmacro FindRights
  ReadRegStr $R0 HKCU "${UNINSTALL_KEY}" "InstallLocation"  ; this user's install
  ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "InstallLocation"  ; the all-users install
  ${GetParameters} $R2
  StrCpy $R3 ""  ; the mode asked for, if any
  ClearErrors
  ${GetOptions} $R2 "/CurrentUser" $0
  ${IfNot} ${Errors}
    StrCpy $R3 0
  ${EndIf}
  ClearErrors
  ${GetOptions} $R2 "/AllUsers" $0
  ${IfNot} ${Errors}
    StrCpy $R3 1
  ${EndIf}

  ; The mode: as asked; else that of the one install there; else all users
  ; for an administrator, this user for anyone else.
  ${If} $R3 != ""
    StrCpy $AllUsers $R3
  ${ElseIf} $R0 != ""
  ${AndIf} $R1 == ""
    StrCpy $AllUsers 0
  ${ElseIf} $R1 != ""
  ${AndIf} $R0 == ""
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers $IsAdmin
  ${EndIf}
  !insertmacro SetMode
  ${If} $AllUsers == 1
    StrCpy $R4 $R1
    StrCpy $OtherDir $R0
  ${Else}
    StrCpy $R4 $R0
    StrCpy $OtherDir $R1
  ${EndIf}

  ; Only an explicit switch can ask for the mode of which no install is
  ; there while the other mode's is: refused, or interactively the other
  ; removed first.
  ${If} $R4 == ""
  ${AndIf} $OtherDir != ""
    ${If} ${Silent}
      SetErrorLevel ${EXIT_OTHER_MODE}
      Quit
    ${EndIf}
    ${If} $AllUsers == 1
      StrCpy $0 "Quillmere 已经仅为你安装在$\r$\n$OtherDir$\r$\n一台电脑上只能有一处安装：要为所有用户安装，需要先卸载它。$\r$\n$\r$\n现在卸载它并继续吗？"
    ${Else}
      StrCpy $0 "Quillmere 已经为所有用户安装在$\r$\n$OtherDir$\r$\n一台电脑上只能有一处安装：要仅为你安装，需要先卸载它（需要管理员权限）。$\r$\n$\r$\n现在卸载它并继续吗？"
    ${EndIf}
    MessageBox MB_YESNO|MB_ICONQUESTION $0 IDYES remove
    SetErrorLevel ${EXIT_OTHER_MODE}
    Quit
    remove:
    ${If} $AllUsers == 1
      !insertmacro RequireAdmin ""
    ${EndIf}
    Call RemoveOtherInstall
  ${EndIf}
  ${If} $AllUsers == 1
    !insertmacro RequireAdmin ""
  ${EndIf}

  ; The folder: an install of this mode is upgraded where it is (/D names
  ; the folder of a new install only); else /D; else the mode's own.
  StrCpy $Upgrade 0
  ${If} $R4 != ""
    StrCpy $INSTDIR $R4
    StrCpy $Upgrade 1
  ${ElseIf} $INSTDIR != ""
    ; given with /D=
  ${ElseIf} $AllUsers == 1
    StrCpy $INSTDIR "$PROGRAMFILES64\Quillmere"  ; $PROGRAMFILES on 32-bit Windows
  ${Else}
    GetKnownFolderPath $0 {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}  ; FOLDERID_UserProgramFiles
    ${If} $0 == ""
      StrCpy $0 "$LOCALAPPDATA\Programs"
    ${EndIf}
    StrCpy $INSTDIR "$0\Quillmere"
  ${EndIf}

  ${If} $AllUsers == 1
    StrCpy $0 "为所有用户安装：这台电脑上的每个用户都可以使用 Quillmere。"
  ${Else}
    StrCpy $0 "仅为我安装：只有你可以使用 Quillmere，不需要管理员权限。"
  ${EndIf}
  ${If} $Upgrade == 1
    StrCpy $DirText "$0$\r$\n它已经安装在下面的文件夹中，将在原处更新，你的设置和列表都会保留。"
  ${Else}
    StrCpy $DirText "$0$\r$\n安装程序将把它安装到下面的文件夹中。要安装到其他文件夹，请点击“浏览”并选择。"
  ${EndIf}

  ; What is installed is one build, not both.
  ${If} ${RunningX64}
    SectionSetSize ${SecProgram} ${X64_KB}
  ${Else}
    SectionSetSize ${SecProgram} ${X86_KB}
  ${EndIf}

  ; The desktop shortcut as chosen the last time (an install made before
  ; that was remembered: whether its shortcut is there); a switch decides
  ; instead.
  StrCpy $1 1
  ${If} $Upgrade == 1
    ClearErrors
    ReadRegDWORD $1 SHCTX "${UNINSTALL_KEY}" "DesktopShortcut"
    ${If} ${Errors}
      StrCpy $1 0
      ${If} ${FileExists} "$DESKTOP\Quillmere.lnk"
        StrCpy $1 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R2 "/NoDesktopShortcut" $0
  ${IfNot} ${Errors}
    StrCpy $1 0
  ${EndIf}
  ClearErrors
  ${GetOptions} $R2 "/DesktopShortcut" $0
  ${IfNot} ${Errors}
    StrCpy $1 1
  ${EndIf}
  ${If} $1 == 0
    !insertmacro UnselectSection ${SecDesktop}
  ${EndIf}
FunctionEnd

Function DirectoryShow
  ${If} $Upgrade == 1
    EnableWindow $mui.DirectoryPage.Directory 0
    EnableWindow $mui.DirectoryPage.BrowseButton 0
  ${EndIf}
FunctionEnd

; An elevated window takes no drops from Explorer, and an all-users install
; is made elevated: no 运行 Quillmere then.
Function FinishShow
  ${If} $AllUsers == 1
    SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
  ${EndIf}
FunctionEnd

!else  ; UNINSTALLER_OUT

; Only makes the compiler write out the uninstaller.
Section
  WriteUninstaller "$TEMP\${UNINSTALLER}"
SectionEnd

!insertmacro CheckNotRunning "un."

; Who uninstalls for whom: the users of the install it belongs to (the key
; that names its folder); /AllUsers and /CurrentUser decide instead.
Function un.onInit
  !insertmacro FindRights
  StrCpy $AllUsers $IsAdmin
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 0
  ${EndIf}
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 1
  ${EndIf}
  ${GetParameters} $2
  ClearErrors
  ${GetOptions} $2 "/CurrentUser" $3
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
  ${EndIf}
  ClearErrors
  ${GetOptions} $2 "/AllUsers" $3
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  ${If} $AllUsers == 1
    !insertmacro RequireAdmin "un."
  ${EndIf}
  !insertmacro SetMode
FunctionEnd

; A running program keeps its exe: say so rather than leave half of it.
!macro RemoveProgramFile NAME
  ${Do}
    ClearErrors
    Delete "$INSTDIR\${NAME}"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "无法删除 $INSTDIR\${NAME}。$\r$\n如果 Quillmere 正在运行，请先关闭它，然后点击“重试”。" /SD IDCANCEL IDRETRY +2
    Abort
  ${Loop}
!macroend

; File by file, never the folder with what is in it: lists the user saved
; beside the exe stay, and so does the folder then. The settings file
; (Tandrel.ini) is the user's too and stays.
Section "Uninstall"
  Call un.CheckNotRunning
  !insertmacro RemoveProgramFile "Quillmere.exe"
  !insertmacro RemoveProgramFile "qmcopy.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$SMPROGRAMS\Quillmere.lnk"
  Delete "$DESKTOP\Quillmere.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ; Run in place (_?=), this is the uninstaller itself: it stays, and with
  ; it the folder, for the caller to remove.
  ${If} $EXEDIR == $INSTDIR
    Return
  ${EndIf}
  ; The uninstaller that started this copy of itself may still be ending,
  ; a silent run being quick: give it up to five seconds.
  StrCpy $0 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\${UNINSTALLER}"
    ${IfNot} ${Errors}
    ${OrIf} $0 >= 50
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
    Sleep 100
  ${Loop}
  RMDir "$INSTDIR"
SectionEnd

!endif
