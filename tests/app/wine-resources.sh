#!/usr/bin/env bash
# The Windows programs as Windows reads them: each one's manifest, version
# information and (the client) icon, through Windows' own API under Wine,
# and the Authenticode signature of each when the build signed them.
#   wine-resources.sh VERSION PEINFO.exe CLIENT.exe SERVICE.exe SETUP.exe UNINSTALL.exe [CA.pem]
set -u
version=$1 peinfo=$2 client=$3 service=$4 setup=$5 uninstaller=$6 ca=${7:-}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/windows/wine.sh"
shots=/dev/null
source "$here/wine-client.sh"
wine_prefix >/dev/null 2>&1

info() { wine "$peinfo" "$1" 2>/dev/null | tr -d '\r'; }
has() { grep -qF -- "$2" <<<"$1"; }
# Windows 7, 8, 8.1, 10 and 11
os_ids="35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38
        1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"

manifest_ok() { # text level dpi-text...
    local text=$1 level=$2 id missing=""
    shift 2
    has "$text" "requestedExecutionLevel level=\"$level\"" || missing+=" $level"
    for id in $os_ids; do has "$text" "$id" || missing+=" OS $id"; done
    has "$text" 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' ||
        missing+=" common controls 6"
    for id in "$@"; do has "$text" "$id" || missing+=" $id"; done
    [ -z "$missing" ] && return 0
    echo "missing:$missing"
    return 1
}

for program in client service; do
    file=${!program}
    text=$(info "$file")
    manifest=${text#*Manifest:}
    if manifest_ok "$manifest" asInvoker '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm</dpiAware>' \
        '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitor</dpiAwareness>'; then
        pass "$program manifest: asInvoker, Windows 7 to 11, per-monitor DPI awareness, common controls 6"
    else
        fail "$program manifest"; echo "$manifest"
    fi
    description=$([ $program = client ] && echo "Tessaro内网穿透客户端" || echo "Tessaro内网穿透后台服务")
    if has "$text" "FileVersion: $version" && has "$text" "ProductVersion: $version" &&
        has "$text" "Fixed: $version.0" && has "$text" "ProductName: Tessaro" &&
        has "$text" "FileDescription: $description" && has "$text" "LegalCopyright: Copyright"; then
        pass "$program version information: $version, Tessaro, $description"
    else
        fail "$program version information"; echo "$text" | sed '/^Manifest:/,$d'
    fi
done
icons=$(info "$client" | sed -n 's/^Icons: //p')
missing=""
for size in 16 20 24 32 40 48 64 256; do [[ " $icons " == *" $size "* ]] || missing+=" $size"; done
[ -n "$icons" ] && [ -z "$missing" ] && pass "client icon in the sizes Windows asks for: $icons" ||
    fail "client icon: \"$icons\", missing$missing"

for program in setup uninstaller; do
    manifest=$(info "${!program}")
    manifest=${manifest#*Manifest:}
    if manifest_ok "$manifest" requireAdministrator '>true</dpiAware>'; then
        pass "$program manifest: requireAdministrator, Windows 7 to 11, DPI aware, common controls 6"
    else
        fail "$program manifest"; echo "$manifest"
    fi
done

if [ -n "$ca" ]; then
    for file in "$client" "$service" "$uninstaller" "$setup"; do
        if osslsigncode verify -CAfile "$ca" -in "$file" 2>&1 | grep -q "^Signature verification: ok"; then
            pass "signed: $(basename "$file")"
        else
            fail "not signed, or not by the build's certificate: $file"
            osslsigncode verify -CAfile "$ca" -in "$file" 2>&1 | tail -5
        fi
    done
fi

echo "Totals: $failures failed"
exit "$failures"
