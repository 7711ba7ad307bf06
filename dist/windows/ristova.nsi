; The Windows installer: makensis -DVERSION=... -DBUILD=... -DKIT=... -DOUTFILE=...
; (dist/windows/CMakeLists.txt passes them). The programs, their runtime and
; Qt DLLs, the simulator's decoder and the manual go to Program Files; a
; Start-menu entry, an uninstaller, and on request ristova-run as a service.
Unicode true
!include "MUI2.nsh"
!include "x64.nsh"

!ifndef VERSION
  !error "VERSION is not set"
!endif
Name "Ristova ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Ristova"
InstallDirRegKey HKLM "Software\Ristova" "InstallDir"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ristova"
!define SERVICE "Ristova"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

Section "Ristova" SecMain
  SectionIn RO
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${BUILD}/ristova-run.exe"
  File "${BUILD}/ristova-decoder-host.exe"
  ; The local API's client and the web page the API serves over TCP, when
  ; this build has the API.
  !if /FileExists "${BUILD}/ristova-ctl.exe"
    File "${BUILD}/ristova-ctl.exe"
    SetOutPath "$INSTDIR\web"
    File "${BUILD}/web/*.*"
    SetOutPath "$INSTDIR"
  !endif
  ; The host of 32-bit decoders, when this build made it.
  !if /FileExists "${BUILD}/ristova-decoder-host32.exe"
    File "${BUILD}/ristova-decoder-host32.exe"
  !endif
  ; The window, when this build has one.
  !if /FileExists "${BUILD}/ristova.exe"
    File "${BUILD}/ristova.exe"
    File "${KIT}/sysroot/bin/Qt6Core.dll"
    File "${KIT}/sysroot/bin/Qt6Gui.dll"
    File "${KIT}/sysroot/bin/Qt6Widgets.dll"
    SetOutPath "$INSTDIR\platforms"
    File "${KIT}/sysroot/plugins/platforms/qwindows.dll"
    SetOutPath "$INSTDIR\styles"
    File "${KIT}/sysroot/plugins/styles/qwindowsvistastyle.dll"
    SetOutPath "$INSTDIR"
  !endif
  File "${KIT}/sysroot/bin/sqlite3.dll"
  File "${KIT}/sysroot/bin/libmosquitto.dll"
  File "${KIT}/sysroot/bin/libstdc++-6.dll"
  File "${KIT}/sysroot/bin/libgcc_s_seh-1.dll"
  File "${KIT}/sysroot/bin/libwinpthread-1.dll"
  !if /FileExists "${BUILD}/docs/manual.html"
    File "${BUILD}/docs/manual.html"
  !endif
  ; The installed plug-in folder the program looks in after the data folder.
  SetOutPath "$INSTDIR\lib\PowerDll"
  File "${BUILD}/PowerDll/SimRelay.dll"
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Ristova" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Ristova"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  CreateDirectory "$SMPROGRAMS\Ristova"
  !if /FileExists "${BUILD}/ristova.exe"
    CreateShortcut "$SMPROGRAMS\Ristova\Ristova.lnk" "$INSTDIR\ristova.exe"
  !endif
  CreateShortcut "$SMPROGRAMS\Ristova\Uninstall Ristova.lnk" "$INSTDIR\uninstall.exe"
SectionEnd

; Off unless chosen: the runner started by the service manager at boot, on
; the folder under ProgramData that every account can find.
Section /o "ristova-run as a Windows service" SecService
  ; $APPDATA of all users is ProgramData.
  SetShellVarContext all
  CreateDirectory "$APPDATA\Ristova"
  nsExec::ExecToLog 'sc.exe create ${SERVICE} binPath= "\"$INSTDIR\ristova-run.exe\" --service --folder \"$APPDATA\Ristova\"" start= auto DisplayName= "Ristova"'
  Pop $0
  StrCmp $0 "0" +2
    DetailPrint "The service was not registered (sc.exe: $0)."
SectionEnd

Section "Uninstall"
  SetRegView 64
  nsExec::ExecToLog 'sc.exe stop ${SERVICE}'
  Pop $0
  nsExec::ExecToLog 'sc.exe delete ${SERVICE}'
  Pop $0
  Delete "$INSTDIR\ristova.exe"
  Delete "$INSTDIR\ristova-run.exe"
  Delete "$INSTDIR\ristova-ctl.exe"
  Delete "$INSTDIR\web\*.*"
  RMDir "$INSTDIR\web"
  Delete "$INSTDIR\ristova-decoder-host.exe"
  Delete "$INSTDIR\ristova-decoder-host32.exe"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\manual.html"
  Delete "$INSTDIR\platforms\qwindows.dll"
  Delete "$INSTDIR\styles\qwindowsvistastyle.dll"
  Delete "$INSTDIR\lib\PowerDll\SimRelay.dll"
  RMDir "$INSTDIR\platforms"
  RMDir "$INSTDIR\styles"
  RMDir "$INSTDIR\lib\PowerDll"
  RMDir "$INSTDIR\lib"
  Delete "$SMPROGRAMS\Ristova\*.lnk"
  RMDir "$SMPROGRAMS\Ristova"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Ristova"
SectionEnd
