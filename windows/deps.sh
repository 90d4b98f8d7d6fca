#!/usr/bin/env bash
# make windows-deps: what the Windows build needs, from Debian's package
# archive only. Debian ships no Qt for MinGW, so this builds one, once, from
# Debian's own qt6-base source: a static Qt 6 for 64-bit Windows with Core, Gui,
# Widgets, Network, PrintSupport and Test and the windows and offscreen
# platform plugins. It lives outside any repository, in $QV_WIN_ROOT
# (default /opt/qv840n-win): src/ the source, build/ the build tree, qt6-mingw/
# the installed Qt. A finished Qt there is reused as it is.
set -euo pipefail
root=${QV_WIN_ROOT:-/opt/qv840n-win}
prefix=$root/qt6-mingw
jobs=${JOBS:-2}
here=$(cd "$(dirname "$0")" && pwd)
stamp=$prefix/.qv840n-qt-complete
packages="g++-mingw-w64-x86-64 wine64 wine nsis xvfb xauth xdotool x11-apps netpbm zip ninja-build cmake dpkg-dev qt6-base-dev qt6-base-dev-tools"

say() { printf '[windows-deps] %s\n' "$*"; }

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"
    elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then sudo "$@"
    else say "needs root for: $*"; exit 1; fi
}

install_packages() {
    local missing="" p
    for p in $packages; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        say "installing Debian packages:$missing"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
    else
        say "Debian packages present: $packages"
    fi
}

# A deb-src entry for the release's main component, from the mirror the
# machine already uses for its binary packages.
enable_sources() {
    if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return
    fi
    local mirror suite
    mirror=$(grep -rhoE '(https?://[^ ]+/debian)/?( |$)' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources \
             /etc/apt/sources.list.d/*.list 2>/dev/null | head -n1 | tr -d ' ' || true)
    mirror=${mirror:-http://deb.debian.org/debian}
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    say "adding deb-src $mirror $suite main (/etc/apt/sources.list.d/qv840n-src.sources)"
    {
        echo "Types: deb-src"
        echo "URIs: $mirror"
        echo "Suites: $suite"
        echo "Components: main"
        [ -f "$keyring" ] && echo "Signed-By: $keyring"
    } | as_root tee /etc/apt/sources.list.d/qv840n-src.sources >/dev/null
    as_root apt-get update -qq
}

fetch_source() {
    local dir
    dir=$(ls -d "$root"/src/qt6-base-*/ 2>/dev/null | head -n1 || true)
    if [ -n "$dir" ] && [ -f "$dir/CMakeLists.txt" ]; then
        say "source present: $dir"
    else
        enable_sources
        say "fetching Debian's qt6-base source into $root/src"
        mkdir -p "$root/src"
        (cd "$root/src" && apt-get source qt6-base >/dev/null)
        dir=$(ls -d "$root"/src/qt6-base-*/ | head -n1)
    fi
    qtsrc=${dir%/}
}

configure_qt() {
    if [ -f "$root/build/build.ninja" ]; then
        say "build tree present: $root/build (configured again with these options, then continued)"
    else
        say "configuring static Qt for MinGW in $root/build"
    fi
    cmake -S "$qtsrc" -B "$root/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$here/toolchain-mingw.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)/cmake \
        -DBUILD_SHARED_LIBS=OFF -DFEATURE_static_runtime=ON \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_tabletevent=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_ssl=OFF -DFEATURE_schannel=OFF -DINPUT_openssl=no \
        -DFEATURE_opengl=ON -DFEATURE_openglwidgets=OFF -DFEATURE_vulkan=OFF \
        -DFEATURE_testlib_selfcover=OFF -DFEATURE_sql_sqlite=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF \
        -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
        -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_sql_odbc=OFF \
        >"$root/configure.log" 2>&1 || { tail -n 40 "$root/configure.log"; exit 1; }
}

main() {
    if [ -f "$stamp" ]; then
        say "static Qt for Windows present: $prefix (built $(cat "$stamp")); nothing to do"
        install_packages
        return
    fi
    say "building a static Qt 6 for Windows once, into $prefix"
    say "this takes about 25-30 minutes on 2 cores (more on a busy machine); later runs reuse it"
    local start=$SECONDS
    install_packages
    fetch_source
    configure_qt
    say "compiling (-j$jobs, log: $root/build.log)"
    nice -n 15 cmake --build "$root/build" --parallel "$jobs" >"$root/build.log" 2>&1 \
        || { tail -n 40 "$root/build.log"; exit 1; }
    cmake --install "$root/build" >"$root/install.log" 2>&1 || { tail -n 40 "$root/install.log"; exit 1; }
    local took=$((SECONDS - start))
    echo "$(date -u +%FT%TZ) in ${took}s" >"$stamp"
    say "done in $((took / 60)) min $((took % 60)) s: $prefix"
}

main "$@"
