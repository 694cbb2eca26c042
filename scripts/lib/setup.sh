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
