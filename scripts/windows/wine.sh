# Sourced by the Windows scripts: a 32-bit Wine prefix of the project's own
# and a virtual display.

# Wine itself, and what the Windows scripts run beside it.
TESSARO_WINE_PACKAGES=(wine wine32:i386)
TESSARO_WINE_TOOL_PACKAGES=(xvfb xauth x11-utils imagemagick fonts-noto-cjk curl xdotool)
# ensure_wine's status when Wine's own packages could not be installed (the
# tools beside it were); sysexits' EX_TEMPFAIL, as the usual cause is a
# mirror in the middle of a sync. scripts/test-windows exits with it too.
TESSARO_NO_WINE=75

# Wine's 32-bit half comes from the i386 architecture. The tools come first
# and on their own, so that a failure of theirs stays an ordinary failure;
# when only Wine fails, apt's error lines are in packages_error.
ensure_wine() {
    ensure_packages "${TESSARO_WINE_TOOL_PACKAGES[@]}" || return
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        local sudo=()
        [ "$(id -u)" -ne 0 ] && sudo=(sudo)
        "${sudo[@]}" dpkg --add-architecture i386 || return
    fi
    if ! ensure_packages "${TESSARO_WINE_PACKAGES[@]}"; then
        echo "Wine could not be installed (apt's messages above)." >&2
        return "$TESSARO_NO_WINE"
    fi
}

# Makes (once) and selects the prefix: the project's own, or the folder given.
# The client asks for "微软雅黑", which Wine lacks; without a substitute Qt
# falls back to a serif face for every text, so the prefix maps it to
# Debian's CJK sans font.
wine_prefix() {
    export WINEPREFIX="${1:-${XDG_CACHE_HOME:-$HOME/.cache}/tessaro/wine-win32}"
    export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -e "$WINEPREFIX/.tessaro-fonts" ]; then
        echo "Making the Wine prefix $WINEPREFIX (once)" >&2
        wineboot -i >/dev/null 2>&1
        wineserver -w
        local reg="$WINEPREFIX/tessaro-fonts.reg"
        {
            printf 'Windows Registry Editor Version 5.00\r\n\r\n'
            printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
            local face
            for face in 微软雅黑 "Microsoft YaHei" 宋体 SimSun; do
                printf '"%s"="Noto Sans CJK SC"\r\n' "$face"
            done
        } | iconv -f UTF-8 -t UTF-16 >"$reg"
        wine regedit /S "$reg" >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.tessaro-fonts"
    fi
}

# Starts Xvfb and exports DISPLAY; its process ID goes into xvfb_pid.
start_virtual_display() {
    local displayfile
    displayfile="$(mktemp)"
    Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5>"$displayfile" &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -n1 "$displayfile")"
    rm -f "$displayfile"
}
