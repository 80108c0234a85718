; The Windows installer, made by scripts/package.sh with Debian's makensis
; from the unpacked zip, so that both hold the same files:
;   makensis -DVERSION=0.6 -DVERSION4=0.6.0.0 -DSOURCE=<zip folder>
;            -DFILES=<files.nsh> -DOUTFILE=<setup.exe> packaging/installer.nsi
; FILES lists the uninstaller's Delete and RMDir lines for exactly the files
; and folders of SOURCE: the uninstaller never removes a folder it did not
; make, whatever folder the user chose.
;
; Per machine: Program Files, the Start menu of all users, the uninstall key
; under HKLM (Apps & Features) and an inbound firewall rule for lumiload.exe
; on every profile. A 64-bit installer (amd64 stub): $PROGRAMFILES64, $SYSDIR
; and HKLM\Software are the native ones, with no WOW64 redirection.
; /S installs silently, /D=<folder> (last on the command line) chooses the
; folder; the uninstaller takes /S too.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\lumi"
!define RULE_NAME "lumiload Art-Net"
; Netsh of the system folder by its full path: a netsh.exe in the folder the
; installer was started from must not run in its place.
!define NETSH '"$SYSDIR\netsh.exe" advfirewall firewall'

Name "lumi ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\lumi"
BrandingText "lumi ${VERSION}"

VIProductVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "lumi"
VIAddVersionKey /LANG=1033 "CompanyName" "lumi"
VIAddVersionKey /LANG=1033 "FileDescription" "lumi ${VERSION} installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright 2026 Lumi maintainers"

!define MUI_ICON "${SOURCE}/icons/logo.ico"
!define MUI_UNICON "${SOURCE}/icons/logo.ico"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "lumi"
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut starts the window in the install folder ($OUTDIR), where
  ; it finds lumiload.exe.
  CreateShortcut "$SMPROGRAMS\lumidesk.lnk" "$INSTDIR\lumidesk.exe" "" "$INSTDIR\lumidesk.exe" 0 \
    SW_SHOWNORMAL "" "Update the firmware of Art-Net lighting fixtures"

  ; The inbound rules for this lumiload.exe go first, as in
  ; add-firewall-rule.cmd: a rule that blocks it (which "Cancel" in
  ; Windows' prompt leaves) wins over any rule that allows it. netsh exits
  ; with 1 when no rule matched.
  nsExec::ExecToLog '${NETSH} delete rule name=all dir=in program="$INSTDIR\lumiload.exe"'
  Pop $0
  nsExec::ExecToLog '${NETSH} add rule name="${RULE_NAME}" dir=in action=allow program="$INSTDIR\lumiload.exe" protocol=UDP localport=6454 profile=any'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "The firewall rule for lumiload.exe could not be added (netsh: $0). \
      Run add-firewall-rule.cmd in $INSTDIR as administrator." /SD IDOK
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "lumi ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "lumi"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lumidesk.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KiB, as Apps & Features expects.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  ; Only the rule of this folder's lumiload.exe: a zip's copy elsewhere
  ; keeps the rule of the same name that its add-firewall-rule.cmd added.
  nsExec::ExecToLog '${NETSH} delete rule name="${RULE_NAME}" dir=in program="$INSTDIR\lumiload.exe"'
  Pop $0
  Delete "$SMPROGRAMS\lumidesk.lnk"
  !include "${FILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
