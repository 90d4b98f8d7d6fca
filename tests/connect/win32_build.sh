#!/bin/sh
# The Windows registry binding is compiled only for Windows. Cross-compiling
# it with MinGW keeps it from rotting unseen: both files must compile without a
# warning, and the object must call the system's registry, which proves the
# Windows branch was the one compiled.
# usage: win32_build.sh CXX NM SOURCE_DIR OUT_DIR INCLUDE_DIR...
set -eu
cxx=$1 nm=$2 src=$3 out=$4
shift 4
incs=""
for d in "$@"; do incs="$incs -I$d"; done
mkdir -p "$out"
for f in RegistryApi ApiRegistry; do
    # shellcheck disable=SC2086
    "$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror -c $incs -I"$src/src" \
        "$src/src/connect/$f.cpp" -o "$out/$f.obj"
done
"$nm" "$out/RegistryApi.obj" | grep -q '__imp_RegOpenKeyExA' || {
    echo "RegistryApi.obj does not call RegOpenKeyExA: the Windows branch was not compiled" >&2
    exit 1
}
echo "registry binding compiles for Windows"
