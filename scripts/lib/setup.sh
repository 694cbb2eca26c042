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
    ca-certificates file nsis osslsigncode openssl)
# What the fuzz build needs beside the build packages: clang and libFuzzer.
TESSARO_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# Installs those of the given packages that are missing. An index that
# apt-get update cannot read (a mirror in the middle of a sync, a source that
# is down) does not stop the install: its line is shown and the packages are
# installed from the indexes that were read. Only a failed install fails,
# with apt's status; apt's error lines are then also left in packages_error,
# for a caller that reports them again later.
ensure_packages() {
    packages_error=""
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

    local output status=0 unread=""
    output=$("${sudo[@]}" apt-get update -qq 2>&1) || status=$?
    if [ "$status" -ne 0 ]; then
        # apt's own summary line names no index; the lines that do are kept.
        unread=$(printf '%s\n' "$output" | grep -E '^(E|W|Err):' |
            grep -v 'Some index files failed to download' || true)
        [ -n "$unread" ] || unread=$output
        {
            echo "apt-get update could not read every index (exit status $status);" \
                "installing from the indexes it could read. Not read:"
            printf '%s\n' "$unread" | sed 's/^/    /'
        } >&2
    elif [ -n "$output" ]; then
        printf '%s\n' "$output" >&2
    fi

    # apt's errors are kept (and shown) for packages_error; its other output
    # goes where it always went.
    local errors
    status=0
    { errors=$("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" 2>&1 1>&3 3>&-); } 3>&1 ||
        status=$?
    if [ -n "$errors" ]; then
        printf '%s\n' "$errors" >&2
    fi
    if [ "$status" -ne 0 ]; then
        local failed
        failed=$(printf '%s\n' "$errors" | grep '^E:' || true)
        packages_error=$(
            if [ -n "$unread" ]; then printf '%s\n' "$unread" | sed 's/^/apt-get update: /'; fi
            printf '%s\n' "${failed:-${errors:-exit status $status}}" | sed 's/^/apt-get install: /'
        )
        echo "Could not install: ${missing[*]} (apt-get install exit status $status)." >&2
        if [ -n "$unread" ]; then
            echo "The index apt-get update could not read (above) may be why." >&2
        fi
        return "$status"
    fi
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

# The stand-in background service, registered as the installer registers the
# real one: by an administrator, with the installer's access list, which lets
# the client (a standard user) start and stop it. Also gives a service
# registered earlier that list. $1 is the folder of tessaro-sc and tessarosvc.
register_standin_service() {
    local bin=$1
    if ! TESSARO_SC_CALLER=admin "$bin/tessaro-sc" query tessarosvc >/dev/null 2>&1; then
        TESSARO_SC_CALLER=admin "$bin/tessaro-sc" create tessarosvc binPath= "$bin/tessarosvc" >/dev/null
    fi
    TESSARO_SC_CALLER=admin "$bin/tessaro-sc" sdset tessarosvc \
        "$(head -n1 "$TESSARO_ROOT/packaging/windows/tessarosvc.sddl")" >/dev/null
}

# Stops the stand-in service and returns once it has ended (the tool's
# watchdog kills it 5 s after the stop at the latest). It accepts a stop only
# once it runs: one still starting is stopped as soon as it can be.
stop_standin_service() {
    local bin=$1 state
    for _ in $(seq 100); do
        state=$(TESSARO_SC_CALLER=admin "$bin/tessaro-sc" query tessarosvc 2>/dev/null |
            tr -d '\r' | sed -n 's/^        STATE *: [0-9]  *//p')
        case "$state" in
        RUNNING) TESSARO_SC_CALLER=admin "$bin/tessaro-sc" stop tessarosvc >/dev/null 2>&1 || true ;;
        START_PENDING | STOP_PENDING) ;;
        *) return 0 ;;
        esac
        sleep 0.1
    done
}
