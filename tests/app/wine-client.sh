# Sourced by the Wine runs: their verdict lines, and the test client driven
# as the coprocess CLIENT (commands on its standard input, one answer line
# each on its output). $shots names the screenshot folder.
failures=0
fail() { echo "FAIL!  : $*"; failures=$((failures + 1)); }
pass() { echo "PASS   : $*"; }
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
shot() { import -window root "$shots/$1.png" && echo "Screenshot: $shots/$1.png"; }

# Reads the client's lines until one starts with $1 (into $line), for at most
# $2 seconds; an "error" line ends the wait at once.
expect() {
    local deadline=$((SECONDS + $2))
    while [ "$SECONDS" -lt "$deadline" ]; do
        IFS= read -r -t 5 line <&"${CLIENT[0]}" || continue
        line=${line%$'\r'}
        case $line in
            "$1"*) return 0 ;;
            error*) echo "client: $line"; return 1 ;;
        esac
    done
    return 1
}
say() { printf '%s\n' "$*" >&"${CLIENT[1]}"; }
ask() { say "$1"; expect "${2:-ok}" "${3:-30}"; }
shows_main() {
    ask state "state " && [[ $line =~ \"class\":\"MainDialog\",\"minimized\":(true|false),\"visible\":true ]]
}
modal() { ask state "state " && [[ $line != *'"modal":""'* ]]; }

# Signs in with the demo account; true once the main window shows.
sign_in() {
    ask "type LoginDialog lineEdit demo"
    ask "type LoginDialog lineEdit_2 demo1234"
    ask "click LoginDialog loginBtn" "ok click" 60
    for _ in $(seq 60); do shows_main && return 0; sleep 0.5; done
    return 1
}

# Declines the welcome question about the account's messages, asked a second
# after the main window opens, and waits until it has gone.
decline_welcome() {
    ask "answer btn_cance"
    for _ in $(seq 20); do modal && break; sleep 0.5; done
    for _ in $(seq 20); do modal || break; sleep 0.5; done
}

# The text of a main-window label once it is not empty (into $result).
read_result() { # label
    result=""
    for _ in $(seq 40); do
        ask "text MainDialog $1" "text " && result=${line#text } && [ -n "$result" ] && return
        sleep 0.5
    done
}
