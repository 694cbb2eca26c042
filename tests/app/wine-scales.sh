#!/usr/bin/env bash
# The client at the display scales of today's PCs, under Wine in a prefix of
# its own: at 100, 125, 150 and 200 % (LogPixels 96, 120, 144, 192) the login
# dialog, the main window, the toolbox and the two common dialogs are that
# many times their size, no label's text is wider than the label on any page,
# the windows can still be dragged, and the pictures are drawn for the scale
# (screenshots of the login dialog and the main window at each scale).
#   wine-scales.sh CLIENT.exe PROVIDER PORT SCREENSHOT_DIR
# TESSARO_SCALES_DPIS="144" runs only the LogPixels values it names.
set -u
client=$1 provider=$2 port=$3 shots=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/windows/wine.sh"
source "$here/wine-client.sh"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$shots"

# A display large enough for 800 x 550 at 200 %, and a prefix of this run's
# own, made from the shared one, whose display scale this run may change.
Xvfb -displayfd 5 -screen 0 2400x1500x24 -nolisten tcp 5>"$work/display" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
wine_prefix >/dev/null 2>&1
cp -a "$WINEPREFIX" "$work/prefix"
wine_prefix "$work/prefix" >/dev/null 2>&1


# The size of the X window titled $1 ("WxH+X+Y"), empty when there is none.
x_geometry() { xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | grep -v 'Default IME' |
    sed -n 's/.*) *\([0-9]*x[0-9]*+-*[0-9]*+-*[0-9]*\).*/\1/p' | head -n1; }
# The client's own account of a window: "geometry W H DPR" (device-independent
# size and device pixel ratio).
geometry() { ask "geometry $1" "geometry " && echo "${line#geometry }"; }
fits() { # class label
    if ask "fit $1" "fit " && [ "$line" = "fit []" ]; then
        pass "$pct %: every label's text fits in the $2"
    else
        fail "$pct %: text wider than its label in the $2: ${line#fit }"
    fi
}
sharp() { # class label
    if ask "blurred $1" "blurred " && [ "$line" = "blurred []" ]; then
        pass "$pct %: every picture in the $2 is drawn for the scale"
    else
        fail "$pct %: pictures shown enlarged from their small version in the $2: ${line#blurred }"
    fi
}
sized() { # class width height label
    local got dpr w h
    got=$(geometry "$1")
    read -r w h dpr <<<"$got"
    if [ "$w" = "$2" ] && [ "$h" = "$3" ] && awk -v d="$dpr" -v s="$scale" 'BEGIN { exit !(d == s) }'; then
        pass "$pct %: the $4 is $2 x $3 at a pixel ratio of $dpr: $(awk -v a="$2" -v b="$3" -v s="$scale" 'BEGIN { printf "%d x %d", a * s + 0.5, b * s + 0.5 }') on screen"
    else
        fail "$pct %: the $4 is \"$got\", not $2 x $3 at $scale"
    fi
}
on_screen() { # title width height label
    local want got
    want=$(awk -v a="$2" -v b="$3" -v s="$scale" 'BEGIN { printf "%dx%d", a * s + 0.5, b * s + 0.5 }')
    got=$(x_geometry "$1")
    [ "${got%%+*}" = "$want" ] && pass "$pct %: the $4 covers $want pixels" ||
        fail "$pct %: the $4 covers \"${got%%+*}\" pixels, not $want"
}

for dpi in ${TESSARO_SCALES_DPIS:-96 120 144 192}; do
    pct=$((dpi * 100 / 96))
    scale=$(awk -v d="$dpi" 'BEGIN { print d / 96 }')
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -p </dev/null >/dev/null 2>&1

    # A provider of each scale's own: the account's message is asked about
    # once per account, and every scale declines it.
    "$provider" --port "$port" --tunnel-port 0 --db "$work/provider-$pct.db" --quiet &
    provider_pid=$!
    pids+=("$provider_pid")
    for _ in $(seq 100); do port_open "$port" && break; sleep 0.1; done

    coproc CLIENT {
        TESSARO_TEST_API="http://127.0.0.1:$port/" WINEDEBUG=-all,+debugstr \
            exec wine "$client" 2>"$work/client-$pct.log"
    }
    client_pid=$CLIENT_PID
    expect ready 120 || { fail "$pct %: the client did not start"; continue; }
    for _ in $(seq 60); do [ -n "$(x_geometry 'Tessaro登录')" ] && break; sleep 0.5; done
    sleep 1
    shot "login-$pct"
    on_screen 'Tessaro登录' 800 550 "login dialog"
    sized LoginDialog 800 550 "login dialog"
    fits LoginDialog "login dialog"
    sharp LoginDialog "login dialog"

    # Dragged by its background: the window follows the pointer one to one.
    before=$(x_geometry 'Tessaro登录')
    read -r bx by <<<"$(sed 's/.*+\(-*[0-9]*\)+\(-*[0-9]*\)/\1 \2/' <<<"$before")"
    xdotool mousemove $((bx + 40)) $((by + 500)) mousedown 1 mousemove $((bx + 70)) $((by + 520)) \
        mousemove $((bx + 140)) $((by + 560)) mouseup 1
    sleep 1
    after=$(x_geometry 'Tessaro登录')
    read -r ax ay <<<"$(sed 's/.*+\(-*[0-9]*\)+\(-*[0-9]*\)/\1 \2/' <<<"$after")"
    # A window's position is a whole number of device-independent pixels: at
    # 125 and 150 % it lands on every 1.25th or 1.5th screen pixel, at most one
    # pixel off the pointer.
    dx=$((ax - bx - 100)) dy=$((ay - by - 60))
    [ "${dx#-}" -le 1 ] && [ "${dy#-}" -le 1 ] &&
        pass "$pct %: dragging the login dialog by 100, 60 pixels moves it by $((ax - bx)), $((ay - by))" ||
        fail "$pct %: dragged by 100, 60 pixels, the login dialog moved from $before to $after"

    # A refused sign-in: the message dialog.
    ask "type LoginDialog lineEdit demo"
    ask "type LoginDialog lineEdit_2 wrong-password"
    # The click returns once the dialog it opens is answered.
    say "click LoginDialog loginBtn"
    for _ in $(seq 40); do modal && break; sleep 0.5; done
    sized MyMsgDialog 489 181 "message dialog"
    fits MyMsgDialog "message dialog"
    sharp MyMsgDialog "message dialog"
    ask "answer btn_ok"
    expect "ok click" 30

    if sign_in; then
        decline_welcome
        sleep 1
        shot "main-$pct"
        on_screen ' Tessaro' 800 550 "main window"
        sized MainDialog 800 550 "main window"
        fits MainDialog "main window (every page)"
        sharp MainDialog "main window (every page)"

        ask "click MainDialog btn_local_check" "ok click"
        for _ in $(seq 20); do ask "geometry CheckBoxFrame" "geometry " 5 && break; sleep 0.5; done
        sized CheckBoxFrame 585 368 "toolbox"
        fits CheckBoxFrame "toolbox"
        sharp CheckBoxFrame "toolbox"
        ask "click CheckBoxFrame closeBtn" "ok click" 10

        say "click MainDialog exit_login_btn"
        for _ in $(seq 40); do modal && break; sleep 0.5; done
        sized MyConfirmDialog 485 130 "confirmation dialog"
        fits MyConfirmDialog "confirmation dialog"
        sharp MyConfirmDialog "confirmation dialog"
        ask "answer btn_cance"
        expect "ok click" 30
    else
        fail "$pct %: no main window after sign-in"
        grep -a 'debugstr' "$work/client-$pct.log" | tail -20
    fi
    kill "$client_pid" "$provider_pid" 2>/dev/null
    wait "$client_pid" "$provider_pid" 2>/dev/null
done

echo "Totals: $failures failed"
exit "$failures"
