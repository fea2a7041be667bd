# Shared by the scripts: installs what is missing, builds both executables, and runs Wine on a
# virtual display of its own. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build

# Wine loads the X and OpenGL libraries it uses at run time, so they are named here, not only
# left to its recommendations.
PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
          wine wine64 xvfb libgl1 libgl1-mesa-dri libxrandr2 libxrender1 libxcursor1 libxi6
          libxcomposite1 libxinerama1 libxxf86vm1 libxfixes3 fonts-wine imagemagick)

log() { printf '== %s\n' "$*" >&2; }

install_missing_packages() {
    local missing=() package
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
}

build_all() {
    local preset
    mkdir -p "$BUILD"
    for preset in win64 win32; do
        log "building $preset"
        cmake --preset "$preset" >"$BUILD/$preset-configure.log" 2>&1 ||
            { cat "$BUILD/$preset-configure.log" >&2; return 1; }
        cmake --build --preset "$preset" -- -k 0 >&2 || return 1
    done
}

XVFB_PID=
WINESERVER_PID=

# One Xvfb and one persistent wineserver for the whole run: each Wine process then starts in a
# fraction of a second.
start_wine_on_virtual_display() {
    local display_file
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    XVFB_PID=$!
    local tries=0
    while [ ! -s "$display_file" ] && [ $tries -lt 100 ]; do
        sleep 0.05
        tries=$((tries + 1))
    done
    [ -s "$display_file" ] || { log "Xvfb did not start"; rm -f "$display_file"; return 1; }
    export DISPLAY=":$(head -n1 "$display_file")"
    rm -f "$display_file"

    export WINEPREFIX=$BUILD/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
    export WINEARCH=win64
    mkdir -p "$WINEPREFIX"
    wineserver -f -p >/dev/null 2>&1 &
    WINESERVER_PID=$!
    # Warm up once: the first Wine process starts Wine's services, which can hold a pipe open.
    timeout 120 /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
    # With no window manager on the display, Wine waits up to two seconds for every destroyed
    # top-level window to be withdrawn; unmanaged windows are destroyed at once.
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
}

stop_wine_and_display() {
    if [ -n "$WINESERVER_PID" ]; then
        # Ends every Wine process of this prefix (Wine's own services too), then the server.
        wineserver -k 2>/dev/null || true
        kill "$WINESERVER_PID" 2>/dev/null || true
        wait "$WINESERVER_PID" 2>/dev/null || true
        WINESERVER_PID=
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
}
