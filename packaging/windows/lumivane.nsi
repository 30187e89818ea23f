; Per-user installer of Module_Lumivane, built with makensis (Debian's nsis):
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0.0 -DEXE=Module_Lumivane.exe
;            -DGUIDE=README.md -DPICTURE=docs/window.png -DOUTFILE=Module_Lumivane-windows.exe lumivane.nsi
; It asks for no administrator rights: the module goes to
; %LOCALAPPDATA%\Programs\Lumivane, a folder the user owns, so that images\
; beside the executable can be created there. /S installs and uninstalls
; silently. The uninstaller removes what the installer put there and leaves
; the pictures (images\) to the user.

; The module is a 64-bit program: so is its installer (-DTARGET=x86-unicode
; for a 32-bit one).
!ifndef TARGET
  !define TARGET amd64-unicode
!endif
Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel user

!macro Required NAME
  !ifndef ${NAME}
    !error "${NAME} must be given with -D${NAME}=..."
  !endif
!macroend
!insertmacro Required VERSION
!insertmacro Required EXE
!insertmacro Required GUIDE
!insertmacro Required PICTURE
!insertmacro Required OUTFILE

; -DSIGN=packaging/sign: the uninstaller is signed before it is packed into
; the installer, the installer once written (each only when the sign script
; is given a certificate).
!ifdef SIGN
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Module_Lumivane"

Name "Module_Lumivane"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Lumivane"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1036 "ProductName" "Module_Lumivane"
VIAddVersionKey /LANG=1036 "CompanyName" "Lumivane"
VIAddVersionKey /LANG=1036 "FileDescription" "Installation de Module_Lumivane"
VIAddVersionKey /LANG=1036 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1036 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1036 "LegalCopyright" "Lumivane"

LoadLanguageFile "${NSISDIR}\Contrib\Language files\French.nlf"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Module_Lumivane"
  SetOutPath "$INSTDIR"
  File "/oname=Module_Lumivane.exe" "${EXE}"
  File "/oname=README.md" "${GUIDE}"
  SetOutPath "$INSTDIR\docs"
  File "/oname=window.png" "${PICTURE}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Desinstaller.exe"

  ; Registered for this user only: Settings > Apps lists it.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Module_Lumivane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Lumivane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Module_Lumivane.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Desinstaller.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Desinstaller.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\Module_Lumivane.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\docs\window.png"
  RMDir "$INSTDIR\docs"
  Delete "$INSTDIR\Desinstaller.exe"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Only when empty: the user's pictures in images\ stay.
  RMDir "$INSTDIR"
SectionEnd
