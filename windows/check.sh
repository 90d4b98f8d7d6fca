#!/usr/bin/env bash
# make windows-check: the Windows build proven under wine on this machine.
#  1. the Windows test programs (built by make windows-check) pass under wine;
#  2. qv840ctl.exe against the Linux `qv840ctl simulate`, on a pseudo-terminal
#     mapped as COM5 and through tcp:// and rtu+tcp:// gateways, gives the same
#     output, files and exit status as the Linux qv840ctl, command by command
#     (the port's name and Windows' CRLF line ends aside);
#  3. qv840n.exe on Xvfb shows the connection dialog listing COM5 and reads
#     the twenty messages of the simulated unit (screenshots in the work folder);
#  4. read-all timed under wine and on Linux, as a ratio.
# Ends with "N passed, M failed" and fails when any check failed.
# usage: check.sh WIN_BUILD LINUX_BUILD
set -uo pipefail
win=$(realpath "${1:-build-win}")
lin=$(realpath "${2:-build}")
src=$(cd "$(dirname "$0")/.." && pwd)
work=$win/check
sim_pid=""
sim_address=""
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
passed=0
failed=0
children=()
cleanup() {
    for p in "${children[@]}"; do kill "$p" 2>/dev/null; done
    wineserver -k 2>/dev/null
}
trap cleanup EXIT

pass() { passed=$((passed + 1)); echo "PASS $1"; }
flunk() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }

# The prefix once; COM5 is the simulated line's link, and the registry's
# serial-port key names it as a serial driver would (the key is rebuilt at
# every start of wine, so it is added each run).
com5=$work/com5tty
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "[windows-check] making the wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
wineserver -k 2>/dev/null
ln -sfn "$com5" "$WINEPREFIX/dosdevices/com5"
ln -sfn "$work/com6tty" "$WINEPREFIX/dosdevices/com6"
wineserver -p 60 2>"$work/wineserver.log"
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial4' /t REG_SZ /d COM5 /f >/dev/null 2>&1

# ---- 1. the test programs -------------------------------------------------
run_tests() {
    local t name pair
    # The serial port's own test: COM5 and COM6 as the two ends of one pair.
    socat pty,link="$com5",raw,echo=0 pty,link="$work/com6tty",raw,echo=0 &
    pair=$!
    children+=("$pair")
    for _ in $(seq 50); do
        [ -e "$work/com6tty" ] && break
        sleep 0.1
    done
    for t in "$win"/bin/tests/*.exe; do
        [ -e "$t" ] || continue
        name=$(basename "$t" .exe)
        mkdir -p "$work/data-$name"
        if (cd "$win/bin" && QT_QPA_PLATFORM=offscreen QV_APP_DIR="$win/bin" QV_SOURCE_DIR="$src" \
            QV840N_DATA_DIR="$work/data-$name" QV_TEST_COM=COM5 QV_TEST_PEER_COM=COM6 \
            timeout 300 wine "$t" -o "$work/$name.log,txt") >"$work/$name.out" 2>&1 &&
            grep -q '^Totals: ' "$work/$name.log"; then
            pass "wine $name ($(grep -ho 'Totals: [0-9]* passed' "$work/$name.log" | head -1))"
        else
            flunk "wine $name" "see $work/$name.log"
            tail -n 15 "$work/$name.log"
        fi
    done
    kill "$pair" 2>/dev/null
    wait "$pair" 2>/dev/null
}

# ---- 2. qv840ctl, Linux against Windows ----------------------------------
# Starts the simulated line of units 1-3 ($1: serial, tcp or rtu); its
# address in sim_address, its process in sim_pid.
start_sim() {
    local out=$work/sim-$RANDOM.out args=(--units 1-3)
    case $1 in
    serial) args+=(--link "$com5") ;;
    tcp) args+=(--listen 127.0.0.1:0) ;;
    rtu) args+=(--listen 127.0.0.1:0 --rtu-over-tcp) ;;
    esac
    "$lin/bin/qv840ctl" simulate "${args[@]}" >"$out" 2>&1 &
    sim_pid=$!
    children+=("$sim_pid")
    for _ in $(seq 50); do
        [ -s "$out" ] && break
        sleep 0.1
    done
    sim_address=$(head -n 1 "$out")
}

stop_sim() {
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
}

# The commands of one client ($1: linux or windows) on a fresh line ($2).
client_session() {
    local who=$1 kind=$2 dir=$work/$kind-$1 address port
    mkdir -p "$dir/run" "$dir/data"
    cp "$src/data/demo.sav" "$dir/run/"
    start_sim "$kind"
    address=$sim_address
    port=$address
    [ "$kind" = serial ] && port=$([ "$who" = windows ] && echo COM5 || echo "$com5")
    local -a cmds=("--version" "read-all" "write 3 HELLO-FROM-WINDOWS" "read 3"
                   "restore demo.sav" "backup --units 1-3 lineset" "verify lineset"
                   "-a 2 read-all")
    local i=0 c
    for c in "${cmds[@]}"; do
        i=$((i + 1))
        # shellcheck disable=SC2086
        if [ "$who" = windows ]; then
            (cd "$dir/run" && QV840N_DATA_DIR="$dir/data" timeout 120 wine "$win/bin/qv840ctl.exe" -p "$port" $c)
        else
            (cd "$dir/run" && QV840N_DATA_DIR="$dir/data" timeout 120 "$lin/bin/qv840ctl" -p "$port" $c)
        fi >"$dir/$i.out" 2>"$dir/$i.err"
        echo "exit $?" >>"$dir/$i.out"
        # The same words either way: the port's name, Windows' line ends.
        for f in "$dir/$i.out" "$dir/$i.err"; do
            sed -i -e 's/\r$//' -e "s#$port#PORT#g" -e "s#$(printf '%s' "$com5")#PORT#g" "$f"
        done
    done
    echo "${#cmds[@]}" >"$dir/count"
    printf '%s\n' "${cmds[@]}" >"$dir/commands"
    stop_sim
}

# Line ends and the time a unit was saved (index.csv) aside.
same_time='s/\r$//; s/[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}/TIME/'

compare_sessions() {
    local kind=$1 l=$work/$kind-linux w=$work/$kind-windows i n c
    n=$(cat "$l/count")
    for i in $(seq "$n"); do
        c=$(sed -n "${i}p" "$l/commands")
        if cmp -s "$l/$i.out" "$w/$i.out" && cmp -s "$l/$i.err" "$w/$i.err"; then
            pass "$kind: qv840ctl $c ($(tail -n 1 "$l/$i.out"))"
        else
            flunk "$kind: qv840ctl $c" "differs"
            diff "$l/$i.out" "$w/$i.out" | head -n 10
            diff "$l/$i.err" "$w/$i.err" | head -n 10
        fi
    done
    local f
    for f in "$l"/run/lineset/*; do
        if [ -f "$w/run/lineset/$(basename "$f")" ] &&
            cmp -s <(sed -E "$same_time" "$f") <(sed -E "$same_time" "$w/run/lineset/$(basename "$f")"); then
            pass "$kind: backup file $(basename "$f") the same"
        else
            flunk "$kind: backup file $(basename "$f")" "differs or missing"
        fi
    done
}

# A pulled adapter: the line hangs up while the client waits for a reply.
# The system's words differ; the exit status (3) and the sentence do not.
pulled() { # $1: linux or windows; prints the exit status and the sentence
    local out=$work/pulled-$1
    "$lin/bin/qv840ctl" simulate --late-ms 4000 --link "$com5" >"$out.sim" 2>&1 &
    sim_pid=$!
    children+=("$sim_pid")
    sleep 0.5
    if [ "$1" = windows ]; then
        timeout 60 wine "$win/bin/qv840ctl.exe" -p COM5 --timeout-ms 6000 read 0 >"$out.out" 2>"$out.err" &
    else
        timeout 60 "$lin/bin/qv840ctl" -p "$com5" --timeout-ms 6000 read 0 >"$out.out" 2>"$out.err" &
    fi
    local client=$!
    sleep 2
    stop_sim
    wait "$client"
    echo "exit $? $(sed -e 's/\r$//' -e 's/failed: .*/failed: .../' -e "s#COM5#PORT#; s#$com5#PORT#" "$out.err")"
}

run_cli() {
    local kind l w
    for kind in serial tcp rtu; do
        client_session linux "$kind"
        client_session windows "$kind"
        compare_sessions "$kind"
    done
    start_sim serial
    local ports
    ports=$(wine "$win/bin/qv840ctl.exe" ports 2>&1 | tr -d '\r')
    if grep -qx COM5 <<<"$ports"; then pass "qv840ctl.exe ports lists COM5"; else flunk "qv840ctl.exe ports" "$ports"; fi
    stop_sim
    l=$(pulled linux)
    w=$(pulled windows)
    if [ "$l" = "$w" ] && [ "${l#exit 3 }" != "$l" ]; then
        pass "a pulled adapter: $w"
    else
        flunk "a pulled adapter" "Linux: $l; Windows: $w"
    fi
}

# ---- 4. read-all timed --------------------------------------------------------
time_read_all() { # $1: linux or windows; prints milliseconds for three read-alls
    local start end k
    start_sim serial
    start=$(date +%s%N)
    for k in 1 2 3; do
        if [ "$1" = windows ]; then
            wine "$win/bin/qv840ctl.exe" -p COM5 read-all >/dev/null 2>&1
        else
            "$lin/bin/qv840ctl" -p "$com5" read-all >/dev/null 2>&1
        fi
    done
    end=$(date +%s%N)
    stop_sim
    echo $(((end - start) / 1000000))
}

run_bench() {
    local l w
    l=$(time_read_all linux)
    w=$(time_read_all windows)
    echo "[windows-check] read-all x3 on the simulated line: Linux ${l} ms, wine ${w} ms," \
        "ratio $(awk -v a="$w" -v b="$l" 'BEGIN { printf "%.2f", a / b }')"
}

# QV_CHECK_ONLY=tests, cli, gui or bench runs that part alone.
only=${QV_CHECK_ONLY:-}
[ -z "$only" ] || [ "$only" = tests ] && run_tests
[ -z "$only" ] || [ "$only" = cli ] && run_cli
if [ -z "$only" ] || [ "$only" = gui ]; then
    # shellcheck source=/dev/null
    . "$(dirname "$0")/check-gui.sh"
    run_gui
fi
[ -z "$only" ] || [ "$only" = bench ] && run_bench
echo "windows-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
