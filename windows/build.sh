#!/usr/bin/env bash
# make windows: qv840n.exe and qv840ctl.exe for 64-bit Windows, statically
# linked against the Qt that `make windows-deps` built, packed as
# qv840n-VERSION-win64.zip (and an installer when makensis is there).
# usage: build.sh [BUILD_DIR]   (default build-win)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
build=${1:-build-win}
mkdir -p "$build" && build=$(cd "$build" && pwd)
root=${QV_WIN_ROOT:-/opt/qv840n-win}
qt=$root/qt6-mingw
jobs=${JOBS:-2}
say() { printf '[windows] %s\n' "$*"; }

if [ ! -f "$qt/.qv840n-qt-complete" ]; then
    say "no static Qt for Windows in $qt: run 'make windows-deps' first"
    exit 1
fi
export QV_WIN_QT=$qt
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$src}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
say "configuring $build"
cmake -S "$src" -B "$build" -G Ninja "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$here/toolchain-mingw.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)/cmake \
    -DQV_BUILD_TESTS="${QV_WIN_TESTS:-OFF}" >"$build.configure.log" 2>&1 \
    || { tail -n 30 "$build.configure.log"; exit 1; }
targets=(qv840n qv840ctl)
[ "${QV_WIN_TESTS:-OFF}" = ON ] && targets+=(windows_tests)
say "building ${targets[*]}"
nice cmake --build "$build" --parallel "$jobs" --target "${targets[@]}"

# No DLL may be needed beyond what every Windows has.
for exe in qv840n qv840ctl; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$build/bin/$exe.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
    for d in $dlls; do
        case $d in
        kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | ole32.dll | oleaut32.dll | \
            comdlg32.dll | winspool.drv | ws2_32.dll | imm32.dll | winmm.dll | version.dll | netapi32.dll | \
            userenv.dll | uxtheme.dll | dwmapi.dll | shlwapi.dll | setupapi.dll | wtsapi32.dll | \
            iphlpapi.dll | dnsapi.dll | d3d9.dll | d3d11.dll | dxgi.dll | dwrite.dll | d2d1.dll | \
            opengl32.dll | mpr.dll | authz.dll | bcrypt.dll | crypt32.dll | secur32.dll | comctl32.dll | \
            shcore.dll | winhttp.dll | \
            msvcrt.dll | api-ms-win-*) ;;
        *) say "$exe.exe needs $d, which Windows does not have"; exit 1 ;;
        esac
    done
done

version=$(sed -n 's/^project(QV840N VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
name=qv840n-$version-win64
stage=$build/$name
rm -rf "$stage" "$build/$name.zip"
mkdir -p "$stage/help/docs"
cp "$build/bin/qv840n.exe" "$build/bin/qv840ctl.exe" "$stage/"
x86_64-w64-mingw32-strip "$stage/qv840n.exe" "$stage/qv840ctl.exe"
cp "$src/data/filedata.fm" "$src/data/Defaults.txt" "$src/data/CRC-16.TBL" "$src/data/demo.sav" "$stage/"
cp "$src/README.md" "$stage/help/"
cp "$src"/docs/*.png "$stage/help/docs/"
sed "s/@VERSION@/$version/g" "$here/README-Windows.txt" | sed 's/$/\r/' >"$stage/README-Windows.txt"
(cd "$build" && zip -qr "$name.zip" "$name")
say "packed $build/$name.zip"

if command -v makensis >/dev/null; then
    makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUT="$build/$name-setup.exe" \
        -DICON="$build/windows/qv840n.ico" "$here/installer.nsi" >/dev/null
    say "installer $build/$name-setup.exe"
fi
