; TessaroSetup.exe: installs the client and its background service on Windows.
; Built by scripts/build-windows (through the tessaro-setup target):
;   makensis -INPUTCHARSET UTF8 -DVERSION=V -DCLIENT_EXE=F -DSERVICE_EXE=F
;            -DOUTFILE=F tessaro.nsi
; /S installs and uninstalls silently; the uninstaller keeps the account and
; the logs unless its "删除账户信息和日志" box is ticked or /REMOVEDATA is given.
;
; What the installer leaves is for standard users: they may query, start and
; stop the service (its access list, tessarosvc.sddl), each may write an
; account to the data folder that nobody but the service and the
; administrators can read, and the service runs with LocalService's few
; rights and reads nothing a user can write.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
; Sharp at every display scale, on Windows 7 to 11.
ManifestDPIAware true
ManifestDPIAwareness "PerMonitorV2,System"
ManifestSupportedOS Win7 Win8 Win8.1 Win10

; Signed where the build signs the programs; the uninstaller as it is made,
; before it is packed, and the installer last.
!ifdef SIGN
!uninstfinalize '${SIGN} "%1"'
!finalize '${SIGN} "%1"'
!endif
!ifdef UNINSTALLER_COPY
!uninstfinalize 'cp "%1" "${UNINSTALLER_COPY}"'
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "StrFunc.nsh"
${StrStr}
${UnStrStr}

!define SERVICE "tessarosvc"
; Who may control the service: SYSTEM and Administrators everything,
; interactive users query, start and stop.
!define /file SERVICE_SDDL "${__FILEDIR__}/tessarosvc.sddl"
; The service's own SID, "NT SERVICE\tessarosvc": S-1-5-80- followed by the
; SHA-1 of the upper-case service name in UTF-16LE, read as five
; little-endian 32-bit numbers. Only this service runs with it.
!define SERVICE_SID "S-1-5-80-2744163491-1630518025-4123112719-868085955-1799608177"
; Well-known SIDs, so that no translated group name matters.
!define SID_SYSTEM "*S-1-5-18"
!define SID_ADMINS "*S-1-5-32-544"
!define SID_USERS "*S-1-5-32-545"
!define SID_CREATOR_OWNER "*S-1-3-0"
; The client and the service agree on this literal path, not on the
; system's ProgramData folder.
!define DATA_ROOT "C:\ProgramData\windowsts"
!define DATA "${DATA_ROOT}\tessaro\service"
!define FIREWALL_RULE "Tessaro"
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
!define MUI_ICON "${__FILEDIR__}/tessaro.ico"
!define MUI_UNICON "${__FILEDIR__}/tessaro.ico"
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "立即运行Tessaro"
!define MUI_FINISHPAGE_RUN_FUNCTION RunClientAsUser
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

; Runs icacls; a failure ends the installation, as the data folder would
; otherwise keep rights it must not have.
!macro Icacls ARGS
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" ${ARGS}'
    Pop $0
    ${If} $0 != 0
        DetailPrint "icacls: $0"
        SetErrorLevel 2
        Abort "无法设置数据文件夹的访问权限"
    ${EndIf}
!macroend

; A folder made before the installation, by anyone, could be a link leading
; anywhere (a user would then choose where the service writes): a link or a
; file of that name is removed, and a real folder made in its place.
!macro RealFolder PATH
    System::Call 'kernel32::GetFileAttributesW(w "${PATH}") i .r0'
    ${If} $0 != -1
        IntOp $1 $0 & 0x400 ; FILE_ATTRIBUTE_REPARSE_POINT
        IntOp $2 $0 & 0x10  ; FILE_ATTRIBUTE_DIRECTORY
        ${If} $1 != 0
            RMDir "${PATH}" ; the link, not what it leads to
            Delete "${PATH}"
        ${ElseIf} $2 == 0
            Delete "${PATH}"
        ${EndIf}
    ${EndIf}
    CreateDirectory "${PATH}"
    ; Owned by the Administrators, whoever made it: an owner may always
    ; change the access list.
    !insertmacro Icacls '"${PATH}" /setowner ${SID_ADMINS}'
!macroend

; Ends every session's client, so that its program file can be replaced or
; removed. It holds nothing unsaved: the account is written at sign-in.
!macro CloseClients
    nsExec::ExecToLog '"$SYSDIR\taskkill.exe" /F /IM tessaro.exe'
    Pop $0
    ${If} $0 == 0
        Sleep 1000
    ${EndIf}
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
    ; A running client and an earlier version's service hold their program
    ; files open.
    !insertmacro CloseClients
    Call StopService

    SetOutPath "$INSTDIR"
    File "/oname=tessaro.exe" "${CLIENT_EXE}"
    File "/oname=tessarosvc.exe" "${SERVICE_EXE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The data folders. Above the service folder: inherited rights only
    ; (whatever someone who made the folder first gave it goes). The service
    ; folder: each user may put a file there and replace one, but read only
    ; their own (CREATOR OWNER); the service reads. Its logs: the service
    ; writes, users read (the client opens the folder).
    !insertmacro RealFolder "${DATA_ROOT}"
    !insertmacro Icacls '"${DATA_ROOT}" /reset'
    !insertmacro RealFolder "${DATA_ROOT}\tessaro"
    !insertmacro Icacls '"${DATA_ROOT}\tessaro" /inheritance:r /grant:r ${SID_SYSTEM}:(OI)(CI)F ${SID_ADMINS}:(OI)(CI)F ${SID_USERS}:(RX)'
    !insertmacro RealFolder "${DATA}"
    !insertmacro Icacls '"${DATA}" /inheritance:r /grant:r ${SID_SYSTEM}:(OI)(CI)F ${SID_ADMINS}:(OI)(CI)F ${SID_CREATOR_OWNER}:(OI)(IO)F ${SID_USERS}:(RD,WD,X,RA,REA,DC,S,RC) *${SERVICE_SID}:(OI)(CI)RX'
    !insertmacro RealFolder "${DATA}\logs"
    !insertmacro Icacls '"${DATA}\logs" /inheritance:r /grant:r ${SID_SYSTEM}:(OI)(CI)F ${SID_ADMINS}:(OI)(CI)F ${SID_USERS}:(OI)(CI)RX *${SERVICE_SID}:(OI)(CI)M'

    ; The path is quoted: unquoted, a path with blanks lets the service
    ; manager start C:\Program.exe. LocalService: no rights on this machine
    ; beyond a user's, none on the network's other machines.
    !define ACCOUNT 'obj= "NT AUTHORITY\LocalService" password= ""'
    !insertmacro Sc 'create ${SERVICE} binPath= "\"$INSTDIR\tessarosvc.exe\"" start= auto DisplayName= "Tessaro" ${ACCOUNT}'
    Pop $0
    ${If} $0 != 0
        ; Already registered by an earlier installation: point it here, or,
        ; where sc has no config (Wine), register it anew.
        !insertmacro Sc 'config ${SERVICE} binPath= "\"$INSTDIR\tessarosvc.exe\"" start= auto ${ACCOUNT}'
        Pop $0
    ${EndIf}
    ${If} $0 != 0
        !insertmacro Sc 'delete ${SERVICE}'
        Pop $0
        !insertmacro Sc 'create ${SERVICE} binPath= "\"$INSTDIR\tessarosvc.exe\"" start= auto DisplayName= "Tessaro" ${ACCOUNT}'
        Pop $0
    ${EndIf}
    ${If} $0 != 0
        DetailPrint "后台服务注册失败 ($0)"
        SetErrorLevel 2
        Abort "后台服务 ${SERVICE} 注册失败"
    ${EndIf}
    ; The service runs with its own SID, which the data folder's rights name.
    !insertmacro Sc 'sidtype ${SERVICE} unrestricted'
    Pop $0
    ${If} $0 != 0
        ; What sc sidtype stores, where sc lacks the verb (Wine).
        WriteRegDWORD HKLM "SYSTEM\CurrentControlSet\Services\${SERVICE}" "ServiceSidType" 1
    ${EndIf}
    ; Standard users start and stop it from the client; nothing more.
    !insertmacro Sc 'sdset ${SERVICE} "${SERVICE_SDDL}"'
    Pop $0
    ${If} $0 != 0
        DetailPrint "后台服务访问权限设置失败 ($0)"
        SetErrorLevel 2
        Abort "后台服务 ${SERVICE} 访问权限设置失败"
    ${EndIf}
    !insertmacro Sc 'description ${SERVICE} "Tessaro内网穿透后台服务，负责建立和维持映射连接"'
    Pop $0
    ; Restarted by the service manager after a crash: 5 s, 5 s, then every
    ; 30 s; the count starts again after a day without a failure.
    !insertmacro Sc 'failure ${SERVICE} reset= 86400 actions= restart/5000/restart/5000/restart/30000'
    Pop $0

    ; The client's test web server on port 18000 is for visitors through a
    ; tunnel: allowed here, so that no standard user is asked for it.
    nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${FIREWALL_RULE}"'
    Pop $0
    nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\tessaro.exe" protocol=TCP localport=18000 profile=any enable=yes'
    Pop $0
    ${If} $0 != 0
        DetailPrint "防火墙规则添加失败 ($0)"
    ${EndIf}

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
    ; "Programs and Features" shows the size (KiB) beside the icon, version
    ; and publisher.
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"

    ; Running from now on, so that a standard user need not wait for the
    ; next start of Windows.
    !insertmacro Sc 'start ${SERVICE}'
    Pop $0
SectionEnd

; The finish page's "run": the installer runs elevated, often under another
; person's administrator account. Explorer, already running for whoever sits
; at the desktop, starts the client for them, with their own rights.
Function RunClientAsUser
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\tessaro.exe"'
FunctionEnd

Section "un.Tessaro" SecUnMain
    SectionIn RO
    SetShellVarContext all
    !insertmacro CloseClients
    Call un.StopService
    ; Its access list goes with it.
    !insertmacro Sc 'delete ${SERVICE}'
    Pop $0
    nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${FIREWALL_RULE}"'
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
    ; The data folders keep their rights while they hold the accounts and
    ; the logs: left to inherit, every user could read user.ini.
SectionEnd

Section /o "un.删除账户信息和日志" SecUnData
    Delete "${DATA}\user.ini"
    ; An administrator's setting of the service, and where earlier versions
    ; read it from.
    Delete "$INSTDIR\tessarosvc.ini"
    RMDir "$INSTDIR"
    Delete "${DATA}\tessarosvc.ini"
    RMDir /r "${DATA}\logs"
    RMDir "${DATA}"
    RMDir "${DATA_ROOT}\tessaro"
    RMDir "${DATA_ROOT}"
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
