#!/usr/bin/env bash
# The Windows client under Wine on a virtual display, signed in with the demo
# account against the Linux stand-in provider on loopback:
#   wine-signin.sh CLIENT.exe PROVIDER PORT SCREENSHOT_DIR
# CLIENT is the test client (the whole client, driven through its windows by
# lines on its standard input); only the provider's address is given to it,
# so the credential store, sc and port 18000 are the system's own. Wine must
# be set up (WINEPREFIX) and wineserver running, with the virtual display
# that DISPLAY names (scripts/test-windows starts both).
set -u
client=$1 provider=$2 port=$3 shots=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/windows/wine.sh"
source "$here/wine-client.sh"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
    start_virtual_display
    pids+=("$xvfb_pid")
fi
mkdir -p "$shots"

"$provider" --port "$port" --tunnel-port 0 --db "$work/provider.db" --quiet &
pids+=($!)
for _ in $(seq 100); do port_open "$port" && break; sleep 0.1; done
port_open "$port" || { fail "the provider does not listen on $port"; exit 1; }

store="$WINEPREFIX/drive_c/ProgramData/windowsts/tessaro/service/user.ini"
rm -f "$store"

# The client's debug lines go to the Windows debug channel; Wine prints them,
# and every program started, on its own channel.
coproc CLIENT {
    TESSARO_TEST_API="http://127.0.0.1:$port/" WINEDEBUG=-all,+debugstr,+process \
        exec wine "$client" 2>"$work/client.log"
}
pids+=("$CLIENT_PID")

login_window() { xwininfo -root -tree 2>/dev/null | grep -q 'Tessaro登录'; }
if expect ready 120 && for _ in $(seq 60); do login_window && break; sleep 0.5; done && login_window; then
    pass "the login window \"Tessaro登录\" is shown"
    sleep 1
    shot login
else
    fail "no login window"; grep -a 'debugstr\|err:' "$work/client.log" | tail -20; exit 1
fi

if sign_in; then pass "signed in: the main window is shown"; else fail "no main window after sign-in"; fi

if [ -f "$store" ] && grep -qx 'user=demo' <(tr -d '\r' <"$store") &&
    grep -qx 'pass=demo1234' <(tr -d '\r' <"$store") && grep -q '^userId=' "$store" &&
    grep -qx '\[server\]' <(tr -d '\r' <"$store"); then
    pass "C://programData//windowsts//tessaro//service//user.ini holds [server] user, pass, userId"
else
    fail "no account in $store"; cat "$store" 2>/dev/null
fi

for _ in $(seq 40); do grep -Eq 'sc(\.exe)? +query tessarosvc' "$work/client.log" && break; sleep 0.5; done
if grep -Eq 'sc(\.exe)? +query tessarosvc' "$work/client.log"; then
    pass "the client ran Wine's \"sc query tessarosvc\""
else
    fail "no sc query was run"
fi

decline_welcome
sleep 2
shot main
page=$(curl -s --max-time 10 http://127.0.0.1:18000/)
if [[ $page == *"<h1>Hi,10001</h1>"* ]]; then pass "port 18000 answers Hi,10001"; else fail "port 18000 answers \"$page\""; fi

ask "click MainDialog pushButton_3" "ok click"
read_result jc_nw_result
local_end=$result
read_result jc_ww_result
public_end=$result
sleep 1
shot check
# The local end is the client's own test page; the public end answers only
# while a background service carries the tunnel, which this run has not.
if [[ $local_end == "已成功连接到："*":18000" ]]; then
    pass "check page, local end: $local_end"
else
    fail "check page, local end: ${local_end:-nothing}"
fi
if [[ $public_end == "暂未连接到："* ]]; then
    pass "check page, public end (no service runs): $public_end"
else
    fail "check page, public end: ${public_end:-nothing}"
fi

if [ "$failures" -ne 0 ]; then
    echo "--- client log (last lines)"
    grep -a 'debugstr\|CreateProcess' "$work/client.log" | tail -30
fi
echo "Totals: $failures failed"
exit "$failures"
