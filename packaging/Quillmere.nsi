; The Quillmere installer, in Simplified Chinese. It installs the 64-bit build
; on 64-bit Windows and the 32-bit one elsewhere: per user, without
; administrator rights, in %LOCALAPPDATA%\Programs\Quillmere; or, when run as
; administrator, for all users in Program Files (the 64-bit one for the 64-bit
; build). /CurrentUser and /AllUsers choose explicitly, also with /S.
;
; scripts/dist.sh builds it and passes: VERSION, VERSION_MAJOR, VERSION_MINOR,
; FILE_VERSION, X64_DIR and X86_DIR (the two builds' exes), DOCS_DIR
; (README.txt, LICENSE.txt), ICON and OUTFILE.

Unicode true
SetCompressor /SOLID lzma
ManifestDPIAware true
; Never asks for elevation: whoever runs it as administrator gets the
; all-users install.
RequestExecutionLevel user

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmere"
!define UNINSTALLER "uninstall.exe"
!define PUBLISHER "The Quillmere authors"
!define ERROR_ELEVATION_REQUIRED 740

Name "Quillmere ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Quillmere ${VERSION}"
ShowInstDetails hide
ShowUninstDetails hide

Var AllUsers    ; 1: for all users (HKLM, Program Files), 0: for this user
Var ModeSwitch  ; how the uninstaller is told which

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\Quillmere.exe"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "Quillmere"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "Quillmere ${VERSION} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "Copyright (c) the Quillmere authors, MIT 许可证"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "OriginalFilename" "Quillmere-${VERSION}-setup.exe"

; Who installs (or uninstalls) for whom: all users when run as administrator,
; else this user; /AllUsers and /CurrentUser decide instead. All users
; without administrator rights asks for them, or when silent is refused
; (exit code 740).
!macro ChooseMode UN
Function ${UN}ChooseMode
  ${If} ${RunningX64}
    SetRegView 64  ; the key beside the 64-bit programs', not in WOW6432Node
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  StrCpy $1 0
  ${If} $0 == "Admin"
    StrCpy $1 1
  ${EndIf}
  StrCpy $AllUsers $1
  !if "${UN}" == "un."
    ; Started without a switch: the users of the install it sits in.
    ReadRegStr $4 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $4 == $INSTDIR
      StrCpy $AllUsers 0
    ${EndIf}
    ReadRegStr $4 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $4 == $INSTDIR
      StrCpy $AllUsers 1
    ${EndIf}
  !endif
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
  ${AndIf} $1 != 1
    ; Asked for interactively (the uninstall entry of an all-users install):
    ; start again elevated, through Windows' own prompt, once.
    ClearErrors
    ${GetOptions} $2 "/Elevated" $3
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
  ${If} $AllUsers == 1
    SetShellVarContext all
    StrCpy $ModeSwitch "/AllUsers"
  ${Else}
    SetShellVarContext current
    StrCpy $ModeSwitch "/CurrentUser"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro ChooseMode ""
!insertmacro ChooseMode "un."

Function .onInit
  Call ChooseMode
  ${If} $INSTDIR != ""
    Return  ; given with /D=
  ${EndIf}
  ; An earlier install for the same users keeps its folder.
  ReadRegStr $INSTDIR SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $INSTDIR != ""
    Return
  ${EndIf}
  ${If} $AllUsers == 1
    StrCpy $INSTDIR "$PROGRAMFILES64\Quillmere"  ; $PROGRAMFILES on 32-bit Windows
  ${Else}
    GetKnownFolderPath $0 {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}  ; FOLDERID_UserProgramFiles
    ${If} $0 == ""
      StrCpy $0 "$LOCALAPPDATA\Programs"
    ${EndIf}
    StrCpy $INSTDIR "$0\Quillmere"
  ${EndIf}
FunctionEnd

Section "Quillmere（必需）" SecProgram
  SectionIn RO
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
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortCut "$SMPROGRAMS\Quillmere.lnk" "$INSTDIR\Quillmere.exe" "" "$INSTDIR\Quillmere.exe" 0 \
      SW_SHOWNORMAL "" "批量复制文件和文件夹"

  ; Windows' list of installed programs.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Quillmere"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "VersionMajor" ${VERSION_MAJOR}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "VersionMinor" ${VERSION_MINOR}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quillmere.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" $ModeSwitch'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S $ModeSwitch'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "桌面快捷方式" SecDesktop
  CreateShortCut "$DESKTOP\Quillmere.lnk" "$INSTDIR\Quillmere.exe" "" "$INSTDIR\Quillmere.exe" 0 \
      SW_SHOWNORMAL "" "批量复制文件和文件夹"
SectionEnd

Function un.onInit
  Call un.ChooseMode
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
  !insertmacro RemoveProgramFile "Quillmere.exe"
  !insertmacro RemoveProgramFile "qmcopy.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
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
  Delete "$SMPROGRAMS\Quillmere.lnk"
  Delete "$DESKTOP\Quillmere.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
