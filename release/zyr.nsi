; The installer of the shipped programs. scripts/release.sh passes
;   VERSION  the programs' version (four numbers)
;   STAGE    the folder holding zyr.exe, zyrctl.exe, README.txt, LICENSE.txt
;   ICON     the programs' icon
;   OUTFILE  the installer to write
;   SIGN     the command that signs (or only keeps) the uninstaller, %1 its path
; Silent: /S installs or uninstalls without a question; /ADDTOPATH with /S
; adds the install folder to the PATH.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZYR"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "ZYR ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\ZYR"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
!uninstfinalize '${SIGN}'

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Brantix"
VIAddVersionKey /LANG=1033 "ProductName" "ZYR"
VIAddVersionKey /LANG=1033 "FileDescription" "ZYR Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 The ZYR developers, MIT licence"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\zyr.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; DropPathEntry: $0 a PATH, $1 an entry; gives $2, the PATH without the
; first entry equal to $1 (case-insensitive, as Windows compares folders),
; and $3, 1 when there was one. Every other entry, empty ones too, stays.
!macro DROP_PATH_ENTRY un
Function ${un}DropPathEntry
    Push $4
    Push $5
    Push $6
    Push $7
    StrCpy $2 ""
    StrCpy $3 0
    StrCpy $5 0
    StrCpy $6 ""
    StrCpy $7 ""
    ${Do}
        StrCpy $4 $0 1 $5
        ${If} $4 == ";"
        ${OrIf} $4 == ""
            ${If} $3 = 0
            ${AndIf} $6 == $1
                StrCpy $3 1
            ${Else}
                StrCpy $2 "$2$7$6"
                StrCpy $7 ";"
            ${EndIf}
            StrCpy $6 ""
            ${IfThen} $4 == "" ${|} ${ExitDo} ${|}
        ${Else}
            StrCpy $6 "$6$4"
        ${EndIf}
        IntOp $5 $5 + 1
    ${Loop}
    Pop $7
    Pop $6
    Pop $5
    Pop $4
FunctionEnd
!macroend
!insertmacro DROP_PATH_ENTRY ""
!insertmacro DROP_PATH_ENTRY "un."

; The PATH as the registry holds it, in $0; $1 is 1 when it may be longer
; than the installer's strings and so must not be rewritten.
!macro READ_SYSTEM_PATH
    ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
    StrLen $1 $0
    IntOp $1 $1 + 1
    ${If} $1 >= ${NSIS_MAX_STRLEN}
        StrCpy $1 1
    ${Else}
        StrCpy $1 0
    ${EndIf}
!macroend

Section "ZYR (required)" SectionPrograms
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "${STAGE}\zyr.exe"
    File "${STAGE}\zyrctl.exe"
    File "${STAGE}\README.txt"
    File "${STAGE}\LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    SetShellVarContext all
    CreateShortcut "$SMPROGRAMS\ZYR.lnk" "$INSTDIR\zyr.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "ZYR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Brantix"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zyr.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Adds the folder once; the uninstaller takes out that entry only, and only
; when this installer put it there (PathAdded).
Section /o "Add the install folder to the PATH (zyrctl from any console)" SectionPath
    !insertmacro READ_SYSTEM_PATH
    ${If} $1 = 1
        DetailPrint "The PATH is too long to change safely; add $INSTDIR to it by hand"
        MessageBox MB_ICONEXCLAMATION|MB_OK "The PATH is too long for the installer to change it safely.$\r$\nZYR is installed; add $INSTDIR to the PATH by hand." /SD IDOK
        Return
    ${EndIf}
    StrCpy $1 "$INSTDIR"
    Call DropPathEntry
    ${If} $3 = 1
        DetailPrint "$INSTDIR is on the PATH already"
        Return
    ${EndIf}
    StrCpy $2 $0 1 -1
    ${If} $0 == ""
        StrCpy $0 "$INSTDIR"
    ${ElseIf} $2 == ";"
        StrCpy $0 "$0$INSTDIR"
    ${Else}
        StrCpy $0 "$0;$INSTDIR"
    ${EndIf}
    StrLen $1 $0
    IntOp $1 $1 + 1
    ${If} $1 >= ${NSIS_MAX_STRLEN}
        MessageBox MB_ICONEXCLAMATION|MB_OK "The PATH is too long for the installer to change it safely.$\r$\nZYR is installed; add $INSTDIR to the PATH by hand." /SD IDOK
        Return
    ${EndIf}
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "PathAdded" 1
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
SectionEnd

Function .onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/ADDTOPATH" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${SectionPath} ${SF_SELECTED}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "PathAdded"
    ${If} $0 = 1
        !insertmacro READ_SYSTEM_PATH
        ${If} $1 = 1
            MessageBox MB_ICONEXCLAMATION|MB_OK "The PATH is too long for the uninstaller to change it safely.$\r$\nTake $INSTDIR out of it by hand." /SD IDOK
        ${Else}
            StrCpy $1 "$INSTDIR"
            Call un.DropPathEntry
            ${If} $3 = 1
                WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $2
                SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
            ${EndIf}
        ${EndIf}
    ${EndIf}

    Delete "$INSTDIR\zyr.exe"
    Delete "$INSTDIR\zyrctl.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: whatever else is in the folder is not ours.
    RMDir "$INSTDIR"

    SetShellVarContext all
    Delete "$SMPROGRAMS\ZYR.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
