# Sourced by check.sh: qv840n.exe under wine on Xvfb. The simulated line is
# on COM5, the one serial port this wine prefix lists; the connection dialog
# must come up listing it (the screenshot lands in the work folder as
# windows-connection.png). Driving the dialogs further by keyboard is not yet
# reliable without a window manager (the focus does not follow), so Read All
# in the window is not checked here; qv840ctl.exe's read-all over COM5 is.

shoot() { # $1: file
    xwd -root -silent -display "$gui_display" | xwdtopnm 2>/dev/null | pnmtopng >"$1" 2>/dev/null
}

wait_window() { # $1: title pattern; the window id, or nothing after 60 s
    local id=""
    for _ in $(seq 120); do
        id=$(DISPLAY=$gui_display xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && break
        sleep 0.5
    done
    echo "$id"
}

run_gui() {
    gui_display=:$((90 + RANDOM % 9))
    Xvfb "$gui_display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    children+=("$!")
    sleep 1
    # One serial port: COM5 (wine's own COM1 has no device behind it here).
    wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial0' /f >/dev/null 2>&1
    local trace=$work/gui-sim.trace
    "$lin/bin/qv840ctl" --trace simulate --link "$com5" >/dev/null 2>"$trace" &
    sim_pid=$!
    children+=("$sim_pid")
    sleep 1
    mkdir -p "$work/gui-data"
    (cd "$win/bin" && DISPLAY=$gui_display QV840N_SPLASH_MS=1 QV840N_DATA_DIR="$work/gui-data" \
        timeout 300 wine "$win/bin/qv840n.exe" >"$work/gui.log" 2>&1) &
    local gui=$!
    children+=("$gui")
    local dialog
    dialog=$(wait_window "Connection configuration")
    if [ -z "$dialog" ]; then
        flunk "qv840n.exe shows the connection dialog"
        shoot "$work/windows-failed.png"
        kill "$gui" 2>/dev/null
        stop_sim
        return
    fi
    sleep 2
    shoot "$work/windows-connection.png"
    pass "qv840n.exe shows the connection dialog (windows-connection.png)"
    kill "$gui" 2>/dev/null
    wineserver -k 2>/dev/null
    stop_sim
}
