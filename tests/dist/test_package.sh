#!/usr/bin/env bash
# The .deb: built by CPack with the dependencies dpkg-shlibdeps found, no
# udev rule, and a qv840ctl that runs from the unpacked tree.
#   test_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >/dev/null)
deb=$(ls "$tmp"/out/qv840n_"$version"*.deb)
dpkg-deb -f "$deb" Depends | grep -q 'libqt6serialport6' || fail "Depends: $(dpkg-deb -f "$deb" Depends)"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
! dpkg-deb -c "$deb" | grep -q udev || fail "the package holds a udev rule"
dpkg-deb -x "$deb" "$tmp/root"
[ "$("$tmp/root/usr/bin/qv840ctl" --version)" = "qv840ctl $version" ] || fail "--version"
[ -f "$tmp/root/usr/share/qv840n/Defaults.txt" ] || fail "no start-up files"
echo "PASS"
