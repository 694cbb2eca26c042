; TessaroSetup.exe: installs the client and its background service on Windows.
; Built by scripts/build-windows (through the tessaro-setup target):
;   makensis -INPUTCHARSET UTF8 -DVERSION=V -DCLIENT_EXE=F -DSERVICE_EXE=F
;            -DOUTFILE=F tessaro.nsi
; /S installs and uninstalls silently; the uninstaller keeps the account and
; the logs unless its "删除账户信息和日志" box is ticked or /REMOVEDATA is given.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "StrFunc.nsh"
${StrStr}
${UnStrStr}

!define SERVICE "tessarosvc"
; The client and the service agree on this literal path, not on the
; system's ProgramData folder.
!define DATA "C:\ProgramData\windowsts\tessaro\service"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaro"

Name "Tessaro"
Caption "Tessaro ${VERSION} 安装"
UninstallCaption "Tessaro ${VERSION} 卸载"
OutFile "${OUTFILE}"
; The 32-bit Program Files folder, also on 64-bit Windows.
InstallDir "$PROGRAMFILES\Tessaro"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\tessaro.exe"
!define MUI_FINISHPAGE_RUN_TEXT "立即运行Tessaro"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "Tessaro"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "Tessaro内网穿透客户端安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "Tessaro"

; Runs sc with the given arguments and logs its output; the exit code is
; left on the stack.
!macro Sc ARGS
    nsExec::ExecToLog '"$SYSDIR\sc.exe" ${ARGS}'
!macroend

; Stops the service and waits up to 15 s until the service manager no
; longer reports it running, so its program file can be replaced or removed.
!macro StopService UN STR
Function ${UN}StopService
    nsExec::ExecToStack '"$SYSDIR\sc.exe" query ${SERVICE}'
    Pop $0
    Pop $1
    ${${STR}StrStr} $2 $1 "STATE"
    ${If} $2 == ""
        Return ; not installed
    ${EndIf}
    DetailPrint "正在停止后台服务 ${SERVICE}..."
    !insertmacro Sc 'stop ${SERVICE}'
    Pop $0
    StrCpy $3 0
    ${Do}
        nsExec::ExecToStack '"$SYSDIR\sc.exe" query ${SERVICE}'
        Pop $0
        Pop $1
        ${${STR}StrStr} $2 $1 "STOPPED"
        ${If} $2 != ""
            Return
        ${EndIf}
        ${${STR}StrStr} $2 $1 "STATE"
        ${If} $2 == ""
            Return
        ${EndIf}
        IntOp $3 $3 + 1
        ${If} $3 > 30
            DetailPrint "后台服务未能在15秒内停止"
            Return
        ${EndIf}
        Sleep 500
    ${Loop}
FunctionEnd
!macroend
!insertmacro StopService "" ""
!insertmacro StopService "un." "Un"

Section "Tessaro" SecMain
    SectionIn RO
    ; Shortcuts for every user of the machine, as the service serves them all.
    SetShellVarContext all
    ; An earlier version's service holds its program file open.
    Call StopService

    SetOutPath "$INSTDIR"
    File "/oname=tessaro.exe" "${CLIENT_EXE}"
    File "/oname=tessarosvc.exe" "${SERVICE_EXE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "${DATA}\logs"

    ; The path is quoted: unquoted, a path with blanks lets the service
    ; manager start C:\Program.exe.
    !insertmacro Sc 'create ${SERVICE} binPath= "\"$INSTDIR\tessarosvc.exe\"" start= auto DisplayName= "Tessaro"'
    Pop $0
    ${If} $0 != 0
        ; Already registered by an earlier installation: point it here, or,
        ; where sc has no config (Wine), register it anew.
        !insertmacro Sc 'config ${SERVICE} binPath= "\"$INSTDIR\tessarosvc.exe\"" start= auto'
        Pop $0
    ${EndIf}
    ${If} $0 != 0
        !insertmacro Sc 'delete ${SERVICE}'
        Pop $0
        !insertmacro Sc 'create ${SERVICE} binPath= "\"$INSTDIR\tessarosvc.exe\"" start= auto DisplayName= "Tessaro"'
        Pop $0
    ${EndIf}
    ${If} $0 != 0
        DetailPrint "后台服务注册失败 ($0)"
        SetErrorLevel 2
        Abort "后台服务 ${SERVICE} 注册失败"
    ${EndIf}
    !insertmacro Sc 'description ${SERVICE} "Tessaro内网穿透后台服务，负责建立和维持映射连接"'
    Pop $0
    ; Restarted by the service manager after a crash: 5 s, 5 s, then every
    ; 30 s; the count starts again after a day without a failure.
    !insertmacro Sc 'failure ${SERVICE} reset= 86400 actions= restart/5000/restart/5000/restart/30000'
    Pop $0

    CreateDirectory "$SMPROGRAMS\Tessaro"
    CreateShortcut "$SMPROGRAMS\Tessaro\Tessaro.lnk" "$INSTDIR\tessaro.exe"
    CreateShortcut "$SMPROGRAMS\Tessaro\卸载Tessaro.lnk" "$INSTDIR\uninstall.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tessaro"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tessaro"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tessaro.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "un.Tessaro" SecUnMain
    SectionIn RO
    SetShellVarContext all
    Call un.StopService
    !insertmacro Sc 'delete ${SERVICE}'
    Pop $0

    Delete "$SMPROGRAMS\Tessaro\Tessaro.lnk"
    Delete "$SMPROGRAMS\Tessaro\卸载Tessaro.lnk"
    RMDir "$SMPROGRAMS\Tessaro"

    ; A client that is still running holds its file: it goes at the next
    ; start of Windows.
    Delete /REBOOTOK "$INSTDIR\tessaro.exe"
    Delete /REBOOTOK "$INSTDIR\tessarosvc.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.删除账户信息和日志" SecUnData
    Delete "${DATA}\user.ini"
    Delete "${DATA}\tessarosvc.ini"
    RMDir /r "${DATA}\logs"
    RMDir "${DATA}"
    RMDir "C:\ProgramData\windowsts\tessaro"
    RMDir "C:\ProgramData\windowsts"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecUnMain} "停止并删除后台服务，删除程序文件和开始菜单快捷方式"
    !insertmacro MUI_DESCRIPTION_TEXT ${SecUnData} "同时删除保存的账户信息(user.ini)和后台服务日志"
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/REMOVEDATA" $R1
    ${IfNot} ${Errors}
        SectionSetFlags ${SecUnData} ${SF_SELECTED}
    ${EndIf}
FunctionEnd
