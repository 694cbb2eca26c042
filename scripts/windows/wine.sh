# Sourced by the Windows scripts: a 32-bit Wine prefix of the project's own
# and a virtual display.

TESSARO_WINE_PACKAGES=(wine wine32:i386 xvfb xauth x11-utils imagemagick fonts-noto-cjk curl)

# Wine's 32-bit half comes from the i386 architecture.
ensure_wine() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        local sudo=()
        [ "$(id -u)" -ne 0 ] && sudo=(sudo)
        "${sudo[@]}" dpkg --add-architecture i386
    fi
    ensure_packages "${TESSARO_WINE_PACKAGES[@]}"
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
