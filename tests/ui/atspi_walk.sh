#!/bin/sh
# usage: atspi_walk.sh PROGRAM_FOLDER
# qv840n --simulate under Xvfb with the accessibility bus on, walked by atspi_walk.py. Skipped
# (77) where Xvfb, the accessibility bus or the Python bindings of AT-SPI are missing.
set -u
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
[ -x /usr/bin/Xvfb ] && [ -x /usr/libexec/at-spi-bus-launcher ] &&
    command -v dbus-run-session >/dev/null &&
    /usr/bin/python3 -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null ||
    { echo "SKIP: Xvfb, at-spi2-core, python3-gi or gir1.2-atspi-2.0 missing"; exit 77; }
if [ "${QV_IN_SESSION:-}" != 1 ]; then
    QV_IN_SESSION=1 exec dbus-run-session -- sh "$0" "$@"
fi
work=$(mktemp -d)
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
bus=$!
display=:$((90 + $$ % 100))
/usr/bin/Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
x=$!
sleep 2
DISPLAY=$display QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    QV840N_SPLASH_MS=300 HOME=$work QV840N_DATA_DIR=$work/data XDG_CONFIG_HOME=$work/config \
    "$bin/qv840n" --simulate >"$work/qv840n.log" 2>&1 &
app=$!
timeout 90 /usr/bin/python3 "$here/atspi_walk.py"
status=$?
kill $app $x $bus 2>/dev/null
wait $app 2>/dev/null
rm -rf "$work"
exit $status
