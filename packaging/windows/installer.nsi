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
;   where dir holds korva-bluetooth-manager.exe, korva.exe, README.txt, LICENSE.txt
;   and korva-pathedit.exe (the PATH edit, run from the installer and uninstaller).

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Korva Bluetooth Manager"
!define PUBLISHER "Korva Bluetooth Manager developers"
!define APP_EXE "korva-bluetooth-manager.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvaBluetoothManager"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

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
Var EarlierOnPath   ; the folder of an earlier version that was on the PATH

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

; Adds ($1 = add) or takes off ($1 = remove) the folder $2 on the PATH of the
; install mode; $0 is 0 when done. NSIS's strings are too short for a PATH,
; so a program of ours edits it, whole, from the plug-ins folder: a PATH it
; cannot read whole it leaves untouched.
!macro PathEdit un
Function ${un}PathEdit
    InitPluginsDir
    File "/oname=$PLUGINSDIR\korva-pathedit.exe" "${FILES}\korva-pathedit.exe"
    ${If} $AllUsers == 1
        StrCpy $3 "system"
    ${Else}
        StrCpy $3 "user"
    ${EndIf}
    nsExec::ExecToLog '"$PLUGINSDIR\korva-pathedit.exe" $1 $3 "$2"'
    Pop $0
FunctionEnd
!macroend
!insertmacro PathEdit ""
!insertmacro PathEdit "un."

Section "${PRODUCT}" SecMain
    SectionIn RO

    ; Uninstall an earlier version first, in place, and wait for it. Its PATH
    ; entry is left to this install (the uninstallers up to 1.0.0 lose a PATH
    ; longer than NSIS's strings): told it is not on the PATH, it keeps off it.
    StrCpy $EarlierOnPath ""
    ReadRegStr $R0 SHCTX "${UNINST_KEY}" "InstallLocation"
    ${If} $R0 != ""
    ${AndIf} ${FileExists} "$R0\${UNINSTALLER}"
        DetailPrint "Removing the earlier version in $R0"
        ReadRegDWORD $R1 SHCTX "${UNINST_KEY}" "KorvaOnPath"
        ${If} $R1 == 1
            StrCpy $EarlierOnPath $R0
            WriteRegDWORD SHCTX "${UNINST_KEY}" "KorvaOnPath" 0
        ${EndIf}
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
    StrCpy $1 "add"
    StrCpy $2 "$INSTDIR"
    Call PathEdit
    ${If} $0 == 0
        WriteRegDWORD SHCTX "${UNINST_KEY}" "KorvaOnPath" 1
    ${Else}
        DetailPrint "The PATH was not changed: add $INSTDIR to it by hand."
    ${EndIf}
SectionEnd

; An earlier version's folder leaves the PATH unless it is this install's, kept there.
Section "-Earlier PATH entry"
    ${If} $EarlierOnPath != ""
        ${IfNot} ${SectionIsSelected} ${SecPath}
        ${OrIf} $EarlierOnPath != $INSTDIR
            StrCpy $1 "remove"
            StrCpy $2 "$EarlierOnPath"
            Call PathEdit
            ${If} $0 != 0
                DetailPrint "The PATH was not changed: take $EarlierOnPath off it by hand."
            ${EndIf}
        ${EndIf}
    ${EndIf}
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
        StrCpy $1 "remove"
        StrCpy $2 "$INSTDIR"
        Call un.PathEdit
        ${If} $0 != 0
            DetailPrint "The PATH was not changed: take $INSTDIR off it by hand."
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
