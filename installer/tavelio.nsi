; Tavelio's installer: per user, without administrator rights, in English or Japanese
; after the system's language. scripts/package builds it with
;   makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DEXE=... -DREADME=... -DICON=... -DOUTFILE=...
; The 64-bit stub: Tavelio itself is x64 only, and Wine without WoW64 runs only 64-bit programs.
Unicode true
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavelio"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Task Manager's on/off switch for the Run value, written by Windows.
!define STARTUP_APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
!define HIDDEN_WINDOW_CLASS "TavelioHiddenWindow"

Name "Tavelio"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Tavelio"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Tavelio ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Tavelio"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "Tavelio Setup"
VIAddVersionKey /LANG=0 "CompanyName" "Tavelio"
VIAddVersionKey /LANG=0 "LegalCopyright" "Tavelio"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(StartNowText)"
!define MUI_FINISHPAGE_RUN_FUNCTION startTavelio

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_SHOW finishShow
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one used when the system's is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString ProgramName ${LANG_ENGLISH} "Tavelio"
LangString ProgramName ${LANG_JAPANESE} "Tavelio"
LangString ProgramText ${LANG_ENGLISH} "The program and its Start menu shortcut."
LangString ProgramText ${LANG_JAPANESE} "プログラム本体とスタート メニューのショートカット。"
LangString SignInName ${LANG_ENGLISH} "Start Tavelio when I sign in"
LangString SignInName ${LANG_JAPANESE} "サインイン時に Tavelio を起動する"
LangString SignInText ${LANG_ENGLISH} "Tavelio starts in the notification area when you sign in."
LangString SignInText ${LANG_JAPANESE} "サインインすると Tavelio が通知領域で起動します。"
LangString StartNowText ${LANG_ENGLISH} "Start Tavelio now"
LangString StartNowText ${LANG_JAPANESE} "Tavelio を今すぐ起動する"
LangString RemoveDataName ${LANG_ENGLISH} "Also remove my settings and logs"
LangString RemoveDataName ${LANG_JAPANESE} "設定とログも削除する"
LangString RemoveDataText ${LANG_ENGLISH} "Deletes settings.json and the logs in $APPDATA\Tavelio."
LangString RemoveDataText ${LANG_JAPANESE} "$APPDATA\Tavelio の settings.json とログを削除します。"
LangString NotReplaced ${LANG_ENGLISH} "The files of Tavelio could not be replaced."
LangString NotReplaced ${LANG_JAPANESE} "Tavelio のファイルを置き換えられませんでした。"
LangString StillRunning ${LANG_ENGLISH} "Tavelio is still running and did not close. Exit it from its icon in the notification area, then choose Retry."
LangString StillRunning ${LANG_JAPANESE} "Tavelio が実行中で、終了できませんでした。通知領域のアイコンから Tavelio を終了してから「再試行」を選んでください。"

; 1 once closeTavelio found Tavelio running: the upgrade then starts the new one.
Var WasRunning

; Explorer starts it, so it runs as the user signed in, with normal rights: a setup run
; elevated (winget from an admin terminal, Run as administrator, another account's password)
; would pass on its own, and that Tavelio would open settings.json in an elevated editor and
; be out of reach of the next, unelevated, upgrade.
Function startTavelio
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\tavelio.exe"'
FunctionEnd

; Both the installer and the uninstaller need it, and NSIS wants the uninstaller's
; functions under names of their own.
!macro DefineCloseTavelio UN
; Asks a running Tavelio to close, as its own Exit does, so that it removes its hooks and
; tray icon and finishes its logs; then waits until Windows lets its exe be replaced.
Function ${UN}closeTavelio
    ${Do}
        FindWindow $0 "${HIDDEN_WINDOW_CLASS}"
        ${If} $0 <> 0
            StrCpy $WasRunning 1
            ; It answers only between two re-typings, which take a few seconds at most.
            SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
        ${EndIf}
        StrCpy $1 0
        ${Do}
            FindWindow $0 "${HIDDEN_WINDOW_CLASS}"
            ${If} $0 = 0
                ; The window goes just before the process, and the exe of a running process
                ; cannot be opened for writing.
                ${IfNot} ${FileExists} "$INSTDIR\tavelio.exe"
                    Return
                ${EndIf}
                ClearErrors
                FileOpen $2 "$INSTDIR\tavelio.exe" a
                ${IfNot} ${Errors}
                    FileClose $2
                    Return
                ${EndIf}
            ${EndIf}
            Sleep 100
            IntOp $1 $1 + 1
        ${LoopUntil} $1 >= 100
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" /SD IDCANCEL IDRETRY retry
        !if "${UN}" == ""
            ; Closed, but its exe stayed locked: the user keeps the Tavelio there was.
            FindWindow $0 "${HIDDEN_WINDOW_CLASS}"
            ${If} $0 = 0
            ${AndIf} $WasRunning == 1
                Call startTavelio
            ${EndIf}
        !endif
        SetErrorLevel 2
        Quit
    retry:
    ${Loop}
FunctionEnd
!macroend
!insertmacro DefineCloseTavelio ""
!insertmacro DefineCloseTavelio "un."

Section "$(ProgramName)" SecProgram
    SectionIn RO
    Call closeTavelio
    SetOutPath "$INSTDIR"
    ClearErrors
    File "/oname=tavelio.exe" "${EXE}"
    File "/oname=README.txt" "${README}"
    ; A silent install answers Ignore when a file stays locked: fail rather than report an
    ; upgrade that did not happen.
    ${If} ${Errors}
        Abort "$(NotReplaced)"
    ${EndIf}
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Tavelio.lnk" "$INSTDIR\tavelio.exe"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Tavelio"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Tavelio"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tavelio.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; The next section writes it again when it is ticked.
    DeleteRegValue HKCU "${RUN_KEY}" "Tavelio"
SectionEnd

Section "$(SignInName)" SecSignIn
    WriteRegStr HKCU "${RUN_KEY}" "Tavelio" '"$INSTDIR\tavelio.exe"'
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "$(ProgramText)"
    !insertmacro MUI_DESCRIPTION_TEXT ${SecSignIn} "$(SignInText)"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
    ; An upgrade keeps the user's earlier choice: no Run value beside an installation
    ; means starting at sign-in was turned off.
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $1 HKCU "${RUN_KEY}" "Tavelio"
    ${If} $0 != ""
    ${AndIf} $1 == ""
        !insertmacro UnselectSection ${SecSignIn}
    ${EndIf}
FunctionEnd

; The upgrade closed the user's Tavelio: it comes back at once, also after a silent
; upgrade (winget's /S), rather than at the next sign-in.
Function .onInstSuccess
    ${If} $WasRunning == 1
        Call startTavelio
    ${EndIf}
FunctionEnd

; So does it when the upgrade failed after closing it: the old one, or what was replaced.
Function .onInstFailed
    ${If} $WasRunning == 1
    ${AndIf} ${FileExists} "$INSTDIR\tavelio.exe"
        Call startTavelio
    ${EndIf}
FunctionEnd

; Tavelio starts again anyway: no second copy from the finish page's box.
Function finishShow
    ${If} $WasRunning == 1
        SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
        ShowWindow $mui.FinishPage.Run ${SW_HIDE}
    ${EndIf}
FunctionEnd

Section "un.$(ProgramName)" UnSecProgram
    SectionIn RO
    Call un.closeTavelio
    Delete "$INSTDIR\tavelio.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Tavelio.lnk"
    DeleteRegValue HKCU "${RUN_KEY}" "Tavelio"
    DeleteRegValue HKCU "${STARTUP_APPROVED_KEY}" "Tavelio"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.$(RemoveDataName)" UnSecData
    RMDir /r "$APPDATA\Tavelio"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${UnSecProgram} "$(ProgramText)"
    !insertmacro MUI_DESCRIPTION_TEXT ${UnSecData} "$(RemoveDataText)"
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END
