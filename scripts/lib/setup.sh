# Shared by the scripts: installs the Debian
# packages the project needs, through sudo when not root.

TESSARO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# What every build needs: compiler, CMake, Qt 5 and the stand-ins' libraries.
TESSARO_BUILD_PACKAGES=(g++ make cmake pkg-config qtbase5-dev qtbase5-dev-tools
    libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev libsqlite3-dev libxcb1-dev)
# What the tests need beside the build: they render the client's Chinese texts
# and read the real process list.
TESSARO_TEST_PACKAGES=(fonts-noto-cjk procps)
# What showing the client needs on a machine without a display, and the
# process list its toolbox reads.
TESSARO_RUN_PACKAGES=(xvfb xauth x11-utils imagemagick fonts-noto-cjk procps)
# What the Windows build needs: the 32-bit MinGW-w64 cross compiler (POSIX
# threads) and what building Qt from Debian's source takes.
TESSARO_WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
    binutils-mingw-w64-i686 make cmake dpkg-dev xz-utils perl python3 g++ pkg-config
    ca-certificates file nsis)
# What the fuzz build needs beside the build packages: clang and libFuzzer.
TESSARO_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Prints "ARCHIVE SUITE" of this machine's apt sources: the first Debian entry
# with a plain suite name, so what a script fetches matches this machine.
debian_archive() {

    {
        cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            awk '$1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++;
                               print $i, $(i + 1) }' || true
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -e "$f" ] || continue
            awk 'BEGIN { RS = ""; FS = "\n" }
                 { uri = ""; suites = ""; deb = 0
                   for (n = 1; n <= NF; n++) {
                       if ($n ~ /^Types:(.*[ \t])?deb([ \t]|$)/) deb = 1
                       if ($n ~ /^URIs:/) { split($n, a, /[ \t]+/); uri = a[2] }
                       if ($n ~ /^Suites:/) { sub(/^Suites:[ \t]*/, "", $n); suites = $n }
                   }
                   if (deb && uri != "") { split(suites, s, /[ \t]+/); for (k in s) print uri, s[k] } }' "$f"
        done
    } | awk '$1 ~ /debian/ && $1 !~ /security/ && $2 ~ /^[a-z]+$/ { print; exit }'
}
