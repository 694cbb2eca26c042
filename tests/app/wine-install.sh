#!/usr/bin/env bash
# The whole loop on Windows, under Wine in a fresh prefix: TessaroSetup.exe /S,
# the installed client signed in with the demo account against the Linux
# stand-in provider, the Windows service carrying the demo tunnel, restarts,
# a provider that comes late, logout and the uninstaller, and what the
# installer leaves for a standard user: the service's access list and
# account, the data folders' rights, the firewall rule.
#   wine-install.sh SETUP.exe PROVIDER PORT TUNNEL_PORT SCREENSHOT_DIR FAKECMD.exe SDDLCHECK.exe
# The installer is a test build's: its tessaro.exe is the test client (the
# whole client, driven through its windows by lines on its standard input).
# DISPLAY must name a running X server, or one is started.
set -u
setup=$1 provider=$2 port=$3 tport=$4 shots=$5 fakecmd=$6 sddlcheck=$7
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/windows/wine.sh"
source "$here/wine-client.sh"

work=$(mktemp -d)
pids=()
provider_pid=""
cleanup() {
    for pid in "${pids[@]}" $provider_pid; do kill "$pid" 2>/dev/null; done
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
    start_virtual_display
    pids+=("$xvfb_pid")
fi
mkdir -p "$shots"

# A prefix of this run's own, with its own Wine server.
wine_prefix "$work/prefix" 2>/dev/null
wineserver -p </dev/null >/dev/null 2>&1
drive="$WINEPREFIX/drive_c"
sys="$drive/windows/system32"
app="$drive/Program Files/Tessaro"
data="$drive/ProgramData/windowsts/tessaro/service"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Tessaro"
log="$data/logs/tessarosvc.log"

# The service's state as sc prints it ("RUNNING", ...), empty when sc knows no
# such service.
sc_state() { wine sc query tessarosvc 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: *[0-9]* *//p'; }
wait_state() { # state seconds
    local deadline=$((SECONDS + $2))
    while [ "$SECONDS" -lt "$deadline" ]; do
        [ "$(sc_state)" = "$1" ] && return 0
        sleep 0.5
    done
    return 1
}
service_pids() { pgrep -f 'Tessaro\\tessarosvc\.exe' | tr '\n' ' ' | sed 's/ $//'; }
public_page() { curl -s --max-time 5 http://127.0.0.1:20000/; }
wait_tunnel() { # seconds
    local deadline=$((SECONDS + $1))
    while [ "$SECONDS" -lt "$deadline" ]; do
        [[ $(public_page) == *"<h1>Hi,10001</h1>"* ]] && return 0
        sleep 0.25
    done
    return 1
}
start_provider() {
    "$provider" --port "$port" --tunnel-port "$tport" --db "$work/provider.db" --quiet \
        >>"$work/provider.log" 2>&1 &
    provider_pid=$!
    for _ in $(seq 100); do port_open "$tport" && return 0; sleep 0.1; done
    return 1
}

# Wine keeps no access list of a file or a service and has no firewall: the
# installer's sc, icacls and netsh are recording stand-ins (sc's hands each
# command on to Wine's own), so that what it asked Windows for can be read.
# The client's own tools (sc, ipconfig, tasklist) are recorded the same way,
# so that the run can tell that they came from the system folder.
for tool in sc ipconfig tasklist; do
    mv "$sys/$tool.exe" "$sys/$tool-wine.exe"
    printf 'exit 0\nforward C:\\windows\\system32\\%s-wine.exe\n' "$tool" >"$sys/$tool.exe.conf"
done
for tool in sc icacls netsh ipconfig tasklist; do cp "$fakecmd" "$sys/$tool.exe"; done
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;sc.exe,icacls.exe,netsh.exe,ipconfig.exe,tasklist.exe=n"
# One line per run of the tool, its arguments joined by blanks.
runs() { # tool
    python3 -c 'import sys
f = open(sys.argv[1], "rb").read().split(b"\0")
i = 0
while i + 1 < len(f):
    n = int(f[i]); print(" ".join(a.decode() for a in f[i + 1:i + 1 + n])); i += 1 + n' \
        "$sys/$1.exe.calls" 2>/dev/null
}
# The service's own SID, computed here from its name as Windows does.
service_sid=$(python3 -c 'import hashlib, struct
d = hashlib.sha1("TESSAROSVC".encode("utf-16-le")).digest()
print("S-1-5-80-" + "-".join(str(x) for x in struct.unpack("<5I", d)))')

# --- install
if wine "$setup" /S && [ -f "$app/tessaro.exe" ] && [ -f "$app/tessarosvc.exe" ] &&
    [ -f "$app/uninstall.exe" ]; then
    pass "TessaroSetup.exe /S installed tessaro.exe, tessarosvc.exe and uninstall.exe in C:\\Program Files\\Tessaro"
else
    fail "TessaroSetup.exe /S did not install the programs"; ls -la "$app"; exit 1
fi
[ -d "$data/logs" ] && pass "the service folder and its logs folder exist" ||
    fail "no $data/logs"
[ -f "$menu/Tessaro.lnk" ] && [ -f "$menu/卸载Tessaro.lnk" ] &&
    pass "Start-menu shortcuts Tessaro and 卸载Tessaro" || fail "no Start-menu shortcuts in $menu"
service_key=$(wine reg query 'HKLM\System\CurrentControlSet\Services\tessarosvc' 2>/dev/null | tr -d '\r')
if [[ $service_key == *'ImagePath    REG_SZ    "C:\Program Files\Tessaro\tessarosvc.exe"'* ]] &&
    [[ $service_key == *"Start    REG_DWORD    0x2"* ]] &&
    [[ $service_key == *'ObjectName    REG_SZ    NT AUTHORITY\LocalService'* ]] &&
    [[ $service_key == *"ServiceSidType    REG_DWORD    0x1"* ]]; then
    pass "service tessarosvc registered: start auto, quoted program path, LocalService with its own SID"
else
    fail "service not registered as expected"; echo "$service_key"
fi
if wait_state RUNNING 30; then
    pass "the installer started the service: a standard user need not wait for a reboot"
else
    fail "after the installation the service is \"$(sc_state)\", not RUNNING"
fi

# The service's access list, as Windows reads it: interactive users may
# query its state (0x4), start (0x10) and stop (0x20) it, nothing else;
# SYSTEM and Administrators everything (SERVICE_ALL_ACCESS, 0xf01ff).
sddl=$(runs sc | sed -n 's/^sdset tessarosvc //p' | tail -n1)
meaning=$(wine "$sddlcheck" "$sddl" 2>&1 | tr -d '\r' | sort)
expected=$(printf 'A S-1-5-18 0xf01ff\nA S-1-5-32-544 0xf01ff\nA S-1-5-4 0x34\n' | sort)
[ -n "$sddl" ] && [ "$meaning" = "$expected" ] &&
    pass "service access list $sddl: interactive users query, start and stop; SYSTEM and Administrators all" ||
    { fail "service access list \"$sddl\" means:"; echo "$meaning"; }

# The data folders: owned by the Administrators whoever made them; the
# service folder lets each user add and replace a file but read only their
# own, the service read; the logs are the service's to write, users' to read.
acl=$(runs icacls)
folder_acl_ok=1
for want in \
    'C:\ProgramData\windowsts /setowner *S-1-5-32-544' \
    'C:\ProgramData\windowsts /reset' \
    'C:\ProgramData\windowsts\tessaro /setowner *S-1-5-32-544' \
    'C:\ProgramData\windowsts\tessaro /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(RX)' \
    'C:\ProgramData\windowsts\tessaro\service /setowner *S-1-5-32-544' \
    "C:\\ProgramData\\windowsts\\tessaro\\service /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-3-0:(OI)(IO)F *S-1-5-32-545:(RD,WD,X,RA,REA,DC,S,RC) *$service_sid:(OI)(CI)RX" \
    'C:\ProgramData\windowsts\tessaro\service\logs /setowner *S-1-5-32-544' \
    "C:\\ProgramData\\windowsts\\tessaro\\service\\logs /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX *$service_sid:(OI)(CI)M"; do
    grep -qxF -- "$want" <<<"$acl" || { fail "icacls not run as: $want"; folder_acl_ok=0; }
done
[ "$folder_acl_ok" = 1 ] && pass "data folders: owner Administrators, user.ini readable only by its writer and the service ($service_sid), logs written only by the service"

rule='advfirewall firewall add rule name=Tessaro dir=in action=allow program=C:\Program Files\Tessaro\tessaro.exe protocol=TCP localport=18000 profile=any enable=yes'
runs netsh | grep -qxF -- "$rule" && pass "firewall rule for tessaro.exe, TCP 18000 inbound" ||
    { fail "no firewall rule added:"; runs netsh; }

# --- the provider, and the service pointed at its tunnel login server
# from its program folder. A file of that name in the data folder, where any
# user may put one, names a listener of "another user": it must hear nothing.
printf '[tunnel]\r\nhost=127.0.0.1\r\nport=%s\r\n' "$tport" >"$app/tessarosvc.ini"
decoy_port=$((tport + 100))
printf '[tunnel]\r\nhost=127.0.0.1\r\nport=%s\r\n' "$decoy_port" >"$data/tessarosvc.ini"
python3 -c 'import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(5)
while True:
    c, _ = s.accept(); open(sys.argv[2], "ab").write(b"connection: " + c.recv(4096) + b"\n")' \
    "$decoy_port" "$work/decoy.log" &
pids+=($!)
start_provider || { fail "the provider does not listen on $tport"; exit 1; }
for _ in $(seq 100); do port_open "$port" && break; sleep 0.1; done

# --- the installed client
# Programs named like the system's tools in the client's folder and in the
# folder it is started from: Windows looks there first for a bare name.
mkdir -p "$work/cwd"
sc_runs_before_client=$(runs sc | wc -l)
for tool in sc ipconfig tasklist; do
    cp "$fakecmd" "$app/$tool.exe"
    cp "$fakecmd" "$work/cwd/$tool.exe"
done
coproc CLIENT {
    cd "$work/cwd"
    TESSARO_TEST_API="http://127.0.0.1:$port/" TESSARO_TEST_HOSTS=demo-web.localhost=127.0.0.1 \
        WINEDEBUG=-all exec wine 'C:\Program Files\Tessaro\tessaro.exe' 2>"$work/client.log"
}
client_pid=$CLIENT_PID # bash forgets it once the client has ended
pids+=("$client_pid")
tip_shown() { # text seconds
    local deadline=$((SECONDS + $2))
    while [ "$SECONDS" -lt "$deadline" ]; do
        ask "tips MainDialog" "tips " && [[ $line == *"\"$1\""* ]] && return 0
        sleep 0.5
    done
    return 1
}

expect ready 120 || { fail "the installed client did not start"; exit 1; }
if sign_in; then pass "the installed tessaro.exe signed in: main window"; else fail "no main window"; fi

# --- the client's own sc start brings the Windows service up
if wait_state RUNNING 60; then
    pass "the client's sc start started the Windows service: RUNNING"
else
    fail "the service is \"$(sc_state)\", not RUNNING"
fi
for _ in $(seq 40); do grep -q 'logged in;' "$log" 2>/dev/null && break; sleep 0.5; done
grep -q 'logged in;' "$log" 2>/dev/null && pass "the service logged in at the tunnel login server" ||
    { fail "the service did not log in"; tail -20 "$log"; }
grep -q 'demo1234' "$log" && fail "the service log holds the password" ||
    pass "the service log does not hold the password"
[ -s "$work/decoy.log" ] && { fail "the service followed the data folder's tessarosvc.ini:"; cat "$work/decoy.log"; } ||
    pass "a tessarosvc.ini in the data folder is ignored: its listener heard nothing"

decline_welcome

if wait_tunnel 20; then
    pass "curl http://127.0.0.1:20000/ answers Hi,10001 through the Windows service"
else
    fail "the public port answers \"$(public_page)\""
fi

# --- the check page of the demo tunnel
ask "click MainDialog pushButton_3" "ok click"
read_result jc_nw_result
local_end=$result
read_result jc_ww_result
public_end=$result
sleep 1
shot install-check
[[ $local_end == "已成功连接到："*":18000" ]] && pass "check page, local end: $local_end" ||
    fail "check page, local end: ${local_end:-nothing}"
[[ $public_end == "已成功连接到："*":20000" ]] && pass "check page, public end: $public_end" ||
    fail "check page, public end: ${public_end:-nothing}"

# --- the toolbox's local check: the service state (sc) and the process scan
# (tasklist)
ask "click MainDialog btn_local_check" "ok click"
ask "click CheckBoxFrame btn_check_local" "ok click" 60
ask "click CheckBoxFrame closeBtn" "ok click" 10 || true
# --- the help menu's DNS flush (ipconfig)
ask "action 清除DNS缓存" "ok action"
for _ in $(seq 20); do [ -s "$sys/ipconfig.exe.calls" ] && break; sleep 0.5; done
# The system's tools came from the system folder, never from the client's
# folder or the folder it was started from.
planted=$(ls "$app"/*.calls "$work/cwd"/*.calls 2>/dev/null)
if [ -z "$planted" ] && [ "$(runs sc | wc -l)" -gt "$sc_runs_before_client" ] &&
    [ -s "$sys/tasklist.exe.calls" ] && [ -s "$sys/ipconfig.exe.calls" ]; then
    pass "sc, ipconfig and tasklist.exe ran from the system folder; those planted beside the client and in its current folder never ran"
else
    fail "planted tools ran (${planted:-none}), or the system's did not: sc $(runs sc | wc -l) runs (before the client: $sc_runs_before_client), tasklist $(runs tasklist | wc -l), ipconfig $(runs ipconfig | wc -l)"
fi

# --- one client: started again while it waits in the tray, it comes back
ask "click MainDialog label_min" "ok click"
shows_main && fail "the main window did not go to the tray"
service_commands() { runs sc | grep -cE '(^| )(start|stop)( |$)'; }
sc_runs=$(service_commands)
(cd "$work/cwd" && TESSARO_TEST_API="http://127.0.0.1:$port/" WINEDEBUG=-all \
    timeout 60 wine 'C:\Program Files\Tessaro\tessaro.exe' </dev/null >"$work/second.out" 2>&1)
second_rc=$?
if [ "$second_rc" = 0 ] && ! grep -q '^ready' "$work/second.out" && shows_main &&
    ask state "state " && [[ $line == *'"mainWindows":1'* && $line == *'"trayIcons":1'* ]] &&
    [ "$(service_commands)" = "$sc_runs" ]; then
    pass "a second tessaro.exe brought the first one's main window back from the tray and ended with 0"
else
    fail "a second tessaro.exe ended with $second_rc; the first: ${line:-no state}"
fi

# --- 重启服务
# The window restarts the service once at its start; that tip goes first.
restart() {
    for _ in $(seq 30); do
        ask "tips MainDialog" "tips " && [ "$line" = "tips []" ] && break
        sleep 0.5
    done
    ask "click MainDialog btn_fresh" "ok click"
}
before=$(service_pids)
restart
if tip_shown "服务重启成功!" 60; then
    after=$(service_pids)
    [ -n "$after" ] && [ "$after" != "$before" ] &&
        pass "重启服务 reports 服务重启成功! and a new service process runs ($before-> $after)" ||
        { fail "重启服务 reports success, but the service process is \"$after\" (was \"$before\")"; tail -8 "$log"; }
else
    fail "重启服务 did not report success (state \"$(sc_state)\"): $line"
fi
wait_tunnel 20 && pass "the tunnel answers after the restart" || fail "no tunnel after the restart"

# --- the service process killed from outside
killed=$(service_pids)
kill -KILL $killed
# Gone once no process of those numbers is left (not even a zombie).
for _ in $(seq 20); do
    ps -o pid= -p "${killed// /,}" >/dev/null 2>&1 || break
    sleep 0.25
done
restarted=""
for _ in $(seq 30); do
    restarted=$(service_pids)
    [ -n "$restarted" ] && break
    sleep 0.5
done
if [ -n "$restarted" ]; then
    wait_tunnel 20 && pass "killed service started again by the service manager; tunnel back" ||
        fail "killed service started again, but no tunnel"
else
    # Wine's service manager keeps no failure actions (sc failure is accepted
    # and not stored) and still reports the killed service RUNNING; it then
    # refuses to stop it (exit code 1) but starts it again. Windows shows a
    # killed service STOPPED, so its stop is refused with 1062 and the
    # restart goes on. Here the client must not claim a restart its stop
    # never had; the service is then started by hand.
    echo "KNOWN  : Wine does not restart a killed service (no failure actions) and still says \"$(sc_state)\""
    restart
    if tip_shown "服务重启失败，请检查后台服务" 60; then
        pass "after the kill, 重启服务 reports that its stop was refused (Wine's service manager still says RUNNING)"
    else
        fail "after the kill under Wine, 重启服务 did not report the refused stop: $line"
    fi
    wine sc start tessarosvc >/dev/null 2>&1
    wait_tunnel 20 && pass "the killed service started again; tunnel back" ||
        fail "the killed service did not come back"
fi

# --- a provider that comes after the service
kill "$provider_pid"; wait "$provider_pid" 2>/dev/null; provider_pid=""
# Long enough for the service's pauses between attempts to reach their longest.
sleep 12
if [[ $(public_page) == *"Hi,10001"* ]]; then fail "the tunnel answered without a provider"; fi
start_provider
started=$SECONDS
if wait_tunnel 10; then
    pass "provider started after the service: tunnel up in $((SECONDS - started)) s"
else
    fail "provider started after the service: no tunnel within 10 s"; tail -5 "$log"
fi

# --- logout stops the service
say "answer btn_ok"
expect "ok answer" 10
ask "click MainDialog exit_login_btn" "ok click" 60
if wait_state STOPPED 60; then pass "logout stopped the service"; else fail "after logout the service is \"$(sc_state)\""; fi
shot install-logout

# --- an installation over the running client closes it instead of failing
# on its program file, and asks nothing
if timeout 180 wine "$setup" /S && [ -f "$app/tessaro.exe" ]; then
    closed=0
    for _ in $(seq 20); do pgrep -f 'Tessaro\\tessaro\.exe' >/dev/null || { closed=1; break; }; sleep 0.5; done
    [ "$closed" = 1 ] && pass "installing over the running client closed it and finished on its own" ||
        fail "the client still runs after the installation over it"
else
    fail "installing over the running client did not finish"
fi
kill "$client_pid" 2>/dev/null
wait "$client_pid" 2>/dev/null
for _ in $(seq 20); do pgrep -f 'Tessaro\\tessaro\.exe' >/dev/null || break; sleep 0.5; done

rm -f "$app"/{sc,ipconfig,tasklist}.exe
# --- uninstall, keeping the account and the logs
uninstalled() {
    for _ in $(seq 60); do
        [ -e "$app" ] || return 0
        sleep 0.5
    done
    return 1
}
# The ini beside the program is the administrator's: kept like the account
# unless the data goes too. Gone here, the program folder can go.
rm -f "$app/tessarosvc.ini"
wine "$app/uninstall.exe" /S
if uninstalled; then pass "the uninstaller removed C:\\Program Files\\Tessaro"; else fail "program files left: $(ls "$app")"; fi
query=$(wine sc query tessarosvc 2>/dev/null | tr -d '\r')
[[ $query != *STATE* ]] && pass "no service after uninstall (sc query prints no state)" ||
    fail "service left after uninstall: $query"
[ -e "$menu" ] && fail "Start-menu folder left" || pass "Start-menu shortcuts removed"
runs netsh | tail -n1 | grep -qxF 'advfirewall firewall delete rule name=Tessaro' &&
    pass "the uninstaller removed the firewall rule" || fail "the firewall rule was not removed"
[ -f "$data/user.ini" ] && [ -f "$log" ] && pass "user.ini and the logs are kept" ||
    fail "user.ini or the logs were removed"

# --- install again, and uninstall with the data
wine "$setup" /S
wine "$app/uninstall.exe" /S /REMOVEDATA
uninstalled
[ ! -e "$data" ] && pass "uninstall /REMOVEDATA removes user.ini and the logs" ||
    fail "left after /REMOVEDATA: $(ls -R "$data")"

if [ "$failures" -ne 0 ]; then
    echo "--- service log (last lines)"
    tail -30 "$log" 2>/dev/null
fi
echo "Totals: $failures failed"
exit "$failures"
