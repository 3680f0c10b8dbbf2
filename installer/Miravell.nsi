; The per-machine installer of the Miravell player. CMake runs makensis on
; this file with the values below (installer/CMakeLists.txt); nothing in it
; repeats the version or a build path.
;
;   VERSION  the program's version, X.Y.Z (project() in CMakeLists.txt)
;   EXE      the Miravell.exe to ship
;   ICON     the program's icon
;   OUTFILE  where the installer goes
;   PRODUCT, PUBLISHER, SCHEME, SCHEME_DESCRIPTION, SHORTCUT_NAME
;            what the MSI package says too (installer/CMakeLists.txt)
;   SIGN_UNINSTALLER  (optional) the command that signs a file in place,
;                     given its path after the last word
;
; Command line, for people who deploy it to many machines:
;   MiravellSetup-X.Y.Z.exe /S [/NODESKTOP]   silent, optionally no desktop shortcut
;   Uninstall.exe /S [/PURGE]                 silent; /PURGE also removes the lesson data
; Exit codes: 0 installed (or removed), 1 cancelled by the person, 2 failed
; (a file that could not be written, not 64-bit Windows...); a silent run
; is never cancelled.

!ifndef VERSION | EXE | ICON | OUTFILE | PRODUCT | PUBLISHER | SCHEME | SCHEME_DESCRIPTION | SHORTCUT_NAME
  !error "makensis needs -DVERSION=X.Y.Z -DEXE=... -DICON=... -DOUTFILE=... and the product's values (the build passes them)"
!endif

Unicode true
!ifdef SIGN_UNINSTALLER
  !uninstfinalize `${SIGN_UNINSTALLER} "%1"` = 0
!endif
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
; The installer's own windows are sharp on scaled displays.
ManifestDPIAware true
ManifestSupportedOS Win10

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; Window classes of a running player (the splash, the start screen, the
; player and the alert countdown) come from the build as CLASS_SPLASH,
; CLASS_INIT, CLASS_PLAYER and CLASS_ALERT (common/WindowClasses.inc).

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An upgrade goes where the earlier version is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow
; A file that cannot be replaced stops the install instead of leaving a mix
; of two versions.
AllowSkipFiles off

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "x64.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_UNCOMPONENTSPAGE_NODESC

; No welcome or finish page: those need a helper DLL unpacked into the
; user's temporary folder, which an elevated installer must not load from.
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

LangString RunningText ${LANG_ENGLISH} "${PRODUCT} is still open. Close it, then choose Retry."

; --- a running player ---------------------------------------------------------

; Asks a running player to close (its windows answer WM_CLOSE the way they
; answer the close button) and waits for it. When it stays, a silent run ends
; it; a person is asked to close it. The un. copy serves the uninstaller.
!macro CLOSE_RUNNING prefix
Function ${prefix}CloseRunningPlayer
  Push $0
  Push $1
  retry:
  StrCpy $1 0
  ${Do}
    FindWindow $0 "${CLASS_PLAYER}"
    ${If} $0 == 0
      FindWindow $0 "${CLASS_INIT}"
    ${EndIf}
    ${If} $0 == 0
      FindWindow $0 "${CLASS_ALERT}"
    ${EndIf}
    ${If} $0 == 0
      FindWindow $0 "${CLASS_SPLASH}"
    ${EndIf}
    ${IfThen} $0 == 0 ${|} ${ExitDo} ${|}
    ${If} $1 == 0
      DetailPrint "Closing the running ${PRODUCT}"
    ${EndIf}
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    IntOp $1 $1 + 1
    ${IfThen} $1 >= 20 ${|} ${ExitDo} ${|}
    Sleep 250
  ${Loop}
  ; A closed player takes a moment to leave: it shuts its browser down first.
  StrCpy $1 0
  ${Do}
    Call ${prefix}PlayerExeIsFree
    Pop $0
    ${IfThen} $0 == 1 ${|} ${ExitDo} ${|}
    IntOp $1 $1 + 1
    ${IfThen} $1 >= 60 ${|} ${ExitDo} ${|}
    Sleep 250
  ${Loop}
  ${If} $0 != 1
    ${If} ${Silent}
      ; School deployments run unattended: nobody could answer a question.
      DetailPrint "Ending the running ${PRODUCT}"
      ExecWait '"$SYSDIR\taskkill.exe" /F /IM Miravell.exe'
      Sleep 1000
    ${Else}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(RunningText)" IDRETRY retry
      Quit
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; Pushes 1 when no process holds the installed exe (or there is none yet).
; Windows refuses to open a running image for writing.
Function ${prefix}PlayerExeIsFree
  Push $0
  ${IfNot} ${FileExists} "$INSTDIR\Miravell.exe"
    Pop $0
    Push 1
    Return
  ${EndIf}
  ClearErrors
  FileOpen $0 "$INSTDIR\Miravell.exe" a
  ${If} ${Errors}
    Pop $0
    Push 0
    Return
  ${EndIf}
  FileClose $0
  Pop $0
  Push 1
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING ""
!insertmacro CLOSE_RUNNING "un."

; --- install ------------------------------------------------------------------

; The machine's data folder holds the elevated player's browser profile, so
; only administrators and the system may own or change it; users may read.
; Every user may create folders in the machine's data folder, so whatever is
; already there is not trusted: a link goes (as a link, never what it leads
; to), and a real folder is taken over with the same entries, which replace
; the inherited ones on everything inside it. The player refuses the folder
; unless it looks like this.
!define DATA_FOLDER_SDDL "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
Function ProtectDataFolder
  StrCpy $R0 "$APPDATA\${PRODUCT}"
  System::Call 'kernel32::GetFileAttributesW(w R0) i .R3'
  ${If} $R3 <> -1
    IntOp $R4 $R3 & 0x400
    ${If} $R4 <> 0
      RMDir "$R0"
      Delete "$R0"
    ${EndIf}
  ${EndIf}
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${DATA_FOLDER_SDDL}", i 1, *p .R1, p 0) i .R2'
  ${If} $R2 <> 0
    ; SECURITY_ATTRIBUTES as laid out for x64
    System::Call '*(i 24, i 0, p R1, i 0, i 0) p .R5'
    System::Call 'kernel32::CreateDirectoryW(w R0, p R5) i .R2'
    ${If} $R2 = 0
      ; Opened without following a link, and changed only when what was
      ; opened is a real folder: a link that could not go keeps its target
      ; out of reach (WRITE_DAC | WRITE_OWNER | READ_ATTRIBUTES, backup
      ; semantics and the reparse flag).
      System::Call 'kernel32::CreateFileW(w R0, i 0xC0080, i 7, p 0, i 3, i 0x02200000, p 0) p .R9'
      ${If} $R9 <> -1
        System::Call '*(&i52) p .R4'
        System::Call 'kernel32::GetFileInformationByHandle(p R9, p R4) i .R2'
        System::Call '*$R4(i .R3)'
        System::Free $R4
        IntOp $R3 $R3 & 0x410
        ${If} $R2 <> 0
        ${AndIf} $R3 = 0x10
          System::Call 'advapi32::GetSecurityDescriptorOwner(p R1, *p .R6, *i .R7)'
          System::Call 'advapi32::GetSecurityDescriptorDacl(p R1, *i .R7, *p .R8, *i .R7)'
          ; OWNER | DACL | PROTECTED_DACL; inheritable entries reach what is inside
          System::Call 'advapi32::SetSecurityInfo(p R9, i 1, i 0x80000005, p R6, p 0, p R8, p 0) i .R2'
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p R9)'
      ${EndIf}
    ${EndIf}
    System::Free $R5
    System::Call 'kernel32::LocalFree(p R1)'
  ${EndIf}
FunctionEnd

!macro WRITE_SCHEME root
  WriteRegStr ${root} "Software\Classes\${SCHEME}" "" "${SCHEME_DESCRIPTION}"
  WriteRegStr ${root} "Software\Classes\${SCHEME}" "URL Protocol" ""
  WriteRegStr ${root} "Software\Classes\${SCHEME}\DefaultIcon" "" "$INSTDIR\Miravell.exe,1"
  WriteRegStr ${root} "Software\Classes\${SCHEME}\shell\open\command" "" '"$INSTDIR\Miravell.exe" "%1"'
!macroend

Section "-${PRODUCT}" SecProgram
  SectionIn RO
  SetShellVarContext all
  Call CloseRunningPlayer

  SetOutPath "$INSTDIR"
  File "/oname=Miravell.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  Call ProtectDataFolder

  CreateShortcut "$SMPROGRAMS\${SHORTCUT_NAME}.lnk" "$INSTDIR\Miravell.exe" "" "$INSTDIR\Miravell.exe" 0

  ; The scheme for every account of the machine, and for the user who
  ; installs, exactly as the program registers it for the user who runs it:
  ; links work from the first click, for students who never started it. A
  ; deployment tool runs this as the system account, whose own classes no
  ; student ever sees.
  !insertmacro WRITE_SCHEME HKLM
  !insertmacro WRITE_SCHEME HKCU

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Miravell.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Desktop shortcut" SecDesktop
  SetShellVarContext all
  CreateShortcut "$DESKTOP\${SHORTCUT_NAME}.lnk" "$INSTDIR\Miravell.exe" "" "$INSTDIR\Miravell.exe" 0
SectionEnd

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NODESKTOP" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecDesktop}
  ${EndIf}
FunctionEnd

; --- uninstall ----------------------------------------------------------------

!macro REMOVE_SCHEME root
  ReadRegStr $0 ${root} "Software\Classes\${SCHEME}\shell\open\command" ""
  ${If} $0 == '"$INSTDIR\Miravell.exe" "%1"'
  ${OrIf} $0 == ""
    DeleteRegKey ${root} "Software\Classes\${SCHEME}"
  ${EndIf}
!macroend

Section "-un.${PRODUCT}"
  SetShellVarContext all
  Call un.CloseRunningPlayer

  Delete "$SMPROGRAMS\${SHORTCUT_NAME}.lnk"
  Delete "$DESKTOP\${SHORTCUT_NAME}.lnk"

  ; Only a registration that still points here: another copy of the program
  ; may have taken the scheme over since.
  !insertmacro REMOVE_SCHEME HKCU
  !insertmacro REMOVE_SCHEME HKLM
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  Delete "$INSTDIR\Miravell.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd

; The data folder holds the browser profile (sign-ins, cached lessons). It
; stays unless the person asks; the program puts it in the machine's data
; folder when elevated and in the user's otherwise (app/Paths.cpp).
; Removes the path and everything in it without entering a reparse point: a
; junction or link inside the data folder goes as a link, and what it leads
; to stays untouched.
Function un.RemoveTree
  Push $R1
  Push $R2
  Push $R3
  System::Call 'kernel32::GetFileAttributesW(w R0) i .R3'
  ${If} $R3 <> -1
    IntOp $R3 $R3 & 0x410
    ${If} $R3 = 0x10
      FindFirst $R1 $R2 "$R0\*"
      ${DoWhile} $R2 != ""
        ${If} $R2 != "."
        ${AndIf} $R2 != ".."
          Push $R0
          StrCpy $R0 "$R0\$R2"
          Call un.RemoveTree
          Pop $R0
        ${EndIf}
        FindNext $R1 $R2
      ${Loop}
      FindClose $R1
      RMDir "$R0"
    ${ElseIf} $R3 = 0x410
      RMDir "$R0"
    ${Else}
      Delete "$R0"
    ${EndIf}
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

Section /o "un.Remove lesson data (sign-ins, cache)" SecPurge
  SetShellVarContext all
  StrCpy $R0 "$APPDATA\${PRODUCT}"
  Call un.RemoveTree
  SetShellVarContext current
  StrCpy $R0 "$LOCALAPPDATA\${PRODUCT}"
  Call un.RemoveTree
SectionEnd

Function un.onInit
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPurge}
  ${EndIf}
FunctionEnd
