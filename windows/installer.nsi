; The per-user installer of the Windows programs: no administrator rights,
; installed under the user's own programs folder, a Start menu entry, an
; uninstaller listed in the user's Apps.
; makensis -DVERSION=1.1 -DSTAGE=DIR -DOUT=SETUP.exe -DICON=qv840n.ico installer.nsi
Unicode true
RequestExecutionLevel user
Name "QV840N ${VERSION}"
OutFile "${OUT}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\QV840N"
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QV840N"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\QV840N"
  CreateShortcut "$SMPROGRAMS\QV840N\QV840N.lnk" "$INSTDIR\qv840n.exe"
  CreateShortcut "$SMPROGRAMS\QV840N\QV840N (simulated unit).lnk" "$INSTDIR\qv840n.exe" "--simulate"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "QV840N"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qv840n.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\QV840N\*.lnk"
  RMDir "$SMPROGRAMS\QV840N"
  RMDir /r "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
