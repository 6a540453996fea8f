; The installer script as released in 1.0.0, kept to test upgrades over that release.
; The Windows installer: the window application and korva.exe from the same
; static build as the .zip, a Start-menu shortcut, an uninstaller registered in
; "Apps & features", and korva on the PATH if asked for.
;
; Per user (%LOCALAPPDATA%\Programs, HKCU) unless run elevated, then for all
; users (Program Files, HKLM). Command line, besides NSIS's /S and /D=DIR:
;   /CurrentUser  /AllUsers   the install mode, whatever the rights
;   /AddToPath                put the install folder on the PATH (silent mode)
; An earlier version in the same mode is uninstalled first, so an upgrade
; leaves nothing of it behind; its folder and PATH choice are kept.
;
; makensis -DVERSION=1.0.0 -DFILES=dir -DICON=korva.ico -DOUTFILE=setup.exe installer.nsi
; where dir holds korva-bluetooth-manager.exe, korva.exe, README.txt, LICENSE.txt.

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include WinMessages.nsh

!define PRODUCT "Korva Bluetooth Manager"
!define PUBLISHER "Korva Bluetooth Manager developers"
!define APP_EXE "korva-bluetooth-manager.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvaBluetoothManager"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define USER_ENV "Environment"
!define SYSTEM_ENV "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir ""
ShowInstDetails nevershow
ShowUninstDetails nevershow
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "GPL-3.0"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP_EXE}"
; The GPL is no agreement to accept: the page informs and goes on with Next.
!define MUI_LICENSEPAGE_TEXT_BOTTOM "The GNU GPL lets you use, study, share and change the program. You need not accept it to install."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${FILES}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var AllUsers

; The shell folders and registry root (SHCTX) of the install mode.
!macro UseMode un
Function ${un}UseMode
    ${If} $AllUsers == 1
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd
!macroend
!insertmacro UseMode ""
!insertmacro UseMode "un."

; The PATH of the install mode, as stored (unexpanded), in $0.
!macro ReadPath un
Function ${un}ReadPath
    ${If} $AllUsers == 1
        ReadRegStr $0 HKLM "${SYSTEM_ENV}" "Path"
    ${Else}
        ReadRegStr $0 HKCU "${USER_ENV}" "Path"
    ${EndIf}
FunctionEnd
!macroend
!insertmacro ReadPath ""
!insertmacro ReadPath "un."

; Writes $0 back as the PATH (removing an empty user PATH) and tells running
; programs, so that a new console sees it.
!macro WritePath un
Function ${un}WritePath
    ${If} $AllUsers == 1
        WriteRegExpandStr HKLM "${SYSTEM_ENV}" "Path" "$0"
    ${ElseIf} $0 == ""
        DeleteRegValue HKCU "${USER_ENV}" "Path"
    ${Else}
        WriteRegExpandStr HKCU "${USER_ENV}" "Path" "$0"
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=1000
FunctionEnd
!macroend
!insertmacro WritePath ""
!insertmacro WritePath "un."

Section "${PRODUCT}" SecMain
    SectionIn RO

    ; Uninstall an earlier version first, in place, and wait for it.
    ReadRegStr $R0 SHCTX "${UNINST_KEY}" "InstallLocation"
    ${If} $R0 != ""
    ${AndIf} ${FileExists} "$R0\${UNINSTALLER}"
        DetailPrint "Removing the earlier version in $R0"
        ExecWait '"$R0\${UNINSTALLER}" /S _?=$R0'
        Delete "$R0\${UNINSTALLER}"
        RMDir "$R0"
    ${EndIf}

    SetOutPath "$INSTDIR"
    File "${FILES}\${APP_EXE}"
    File "${FILES}\korva.exe"
    File "${FILES}\README.txt"
    File "${FILES}\LICENSE.txt"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    CreateShortcut "${SHORTCUT}" "$INSTDIR\${APP_EXE}" "" "$INSTDIR\${APP_EXE}" 0 \
        SW_SHOWNORMAL "" "Configure and update Korva Bluetooth audio receivers"

    WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" '"$INSTDIR\${APP_EXE}",0'
    WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegStr SHCTX "${UNINST_KEY}" "URLInfoAbout" "https://korva.invalid/"
    WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
    WriteRegDWORD SHCTX "${UNINST_KEY}" "KorvaOnPath" 0
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Add korva to the PATH" SecPath
    Call ReadPath
    ; NSIS strings hold 1024 characters: a longer PATH is left alone rather than cut.
    StrLen $1 $0
    ${If} $1 > 900
        DetailPrint "The PATH is too long to change here: add $INSTDIR by hand."
        Return
    ${EndIf}
    ${If} $0 == ""
        StrCpy $0 "$INSTDIR"
    ${Else}
        ${WordAdd} "$0" ";" "+$INSTDIR" $0
    ${EndIf}
    Call WritePath
    WriteRegDWORD SHCTX "${UNINST_KEY}" "KorvaOnPath" 1
SectionEnd

; After the sections: it selects them by their index.
Function .onInit
    ${GetParameters} $R0
    UserInfo::GetAccountType
    Pop $R1
    StrCpy $AllUsers 0
    ${If} $R1 == "Admin"
        StrCpy $AllUsers 1
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/CurrentUser" $R2
    ${IfNot} ${Errors}
        StrCpy $AllUsers 0
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/AllUsers" $R2
    ${IfNot} ${Errors}
        ${If} $R1 != "Admin"
            MessageBox MB_ICONSTOP "Installing for all users needs administrator rights: run the installer as administrator." /SD IDOK
            SetErrorLevel 740
            Quit
        ${EndIf}
        StrCpy $AllUsers 1
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/AddToPath" $R2
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecPath}
    ${EndIf}
    Call UseMode

    ; An upgrade goes where the earlier version is, keeping its PATH choice.
    ReadRegStr $R3 SHCTX "${UNINST_KEY}" "InstallLocation"
    ${If} $R3 != ""
        ${If} $INSTDIR == ""
            StrCpy $INSTDIR $R3
        ${EndIf}
        ReadRegDWORD $R4 SHCTX "${UNINST_KEY}" "KorvaOnPath"
        ${If} $R4 == 1
            !insertmacro SelectSection ${SecPath}
        ${EndIf}
    ${EndIf}
    ${If} $INSTDIR == ""
        ${If} $AllUsers == 1
            StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
        ${Else}
            StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
        ${EndIf}
    ${EndIf}
FunctionEnd

Function un.onInit
    ; This uninstaller's install is for all users when HKLM names its folder.
    StrCpy $AllUsers 0
    ReadRegStr $R0 HKLM "${UNINST_KEY}" "InstallLocation"
    ${If} $R0 == $INSTDIR
        StrCpy $AllUsers 1
        UserInfo::GetAccountType
        Pop $R1
        ${If} $R1 != "Admin"
            MessageBox MB_ICONSTOP "${PRODUCT} was installed for all users: run its uninstaller as administrator." /SD IDOK
            SetErrorLevel 740
            Quit
        ${EndIf}
    ${EndIf}
    Call un.UseMode
FunctionEnd

Section Uninstall
    ReadRegDWORD $R0 SHCTX "${UNINST_KEY}" "KorvaOnPath"
    ${If} $R0 == 1
        Call un.ReadPath
        StrLen $1 $0
        ${If} $1 <= 900
            ${un.WordAdd} "$0" ";" "-$INSTDIR" $0
            Call un.WritePath
        ${EndIf}
    ${EndIf}

    Delete "${SHORTCUT}"
    Delete "$INSTDIR\${APP_EXE}"
    Delete "$INSTDIR\korva.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\${UNINSTALLER}"
    ; Only the folders themselves: anything else the user put there stays.
    RMDir "$INSTDIR"
    ${If} $AllUsers == 0
        RMDir "$LOCALAPPDATA\Programs"
    ${EndIf}
    DeleteRegKey SHCTX "${UNINST_KEY}"
    DeleteRegKey /ifempty SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall"
SectionEnd
