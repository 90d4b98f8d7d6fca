#!/usr/bin/env bash
# The installed programs: the layout under a fresh prefix, the desktop entry
# and metainfo, the manuals and completion against --help, and the installed
# qv840ctl run from another folder with no --config: a CSV table written to a
# simulated unit, read back, and drawn on the printed sheet.
#   test_install.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
tmp=$(mktemp -d)
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

p=$tmp/prefix
cmake --install "$build" --prefix "$p" >/dev/null
for f in bin/qv840n bin/qv840ctl share/qv840n/filedata.fm share/qv840n/Defaults.txt \
    share/qv840n/CRC-16.TBL share/applications/qv840n.desktop \
    share/icons/hicolor/scalable/apps/qv840n.svg share/metainfo/qv840n.metainfo.xml \
    share/man/man1/qv840n.1 share/man/man1/qv840ctl.1 share/bash-completion/completions/qv840ctl \
    share/qv840n/help/README.md share/qv840n/help/docs/compare.png; do
    [ -f "$p/$f" ] || fail "$f is not installed"
done
[ "$("$p/bin/qv840ctl" --version)" = "qv840ctl $version" ] || fail "qv840ctl --version"
[ "$("$p/bin/qv840n" --version 2>/dev/null)" = "QV840N $version" ] || fail "qv840n --version"
desktop-file-validate "$p/share/applications/qv840n.desktop"
grep -q '^Categories=.*Utility;.*Electronics;' "$p/share/applications/qv840n.desktop"
appstreamcli validate --no-net "$p/share/metainfo/qv840n.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$p/share/metainfo/qv840n.metainfo.xml"

# Every option of --help in the manual, every command in the manual and the
# completion; the manual's version is the program's.
for prog in qv840n qv840ctl; do
    man=$(sed 's/\\-/-/g' "$p/share/man/man1/$prog.1")
    grep -q "\"QV840N $version\"" <<<"$man" || fail "$prog.1 is not version $version"
    for option in $("$p/bin/$prog" --help 2>/dev/null | grep -o -- '--[a-z-]*' | sort -u); do
        grep -q -- "$option" <<<"$man" || fail "$prog.1 lacks $option"
    done
done
commands=$("$p/bin/qv840ctl" --help | sed -n '/^Commands:/,/^$/p' | awk '/^  [a-z]/{print $1}')
plain=$(sed 's/\\-/-/g; s/\\f[BIR]//g' "$p/share/man/man1/qv840ctl.1")
for c in $commands; do
    grep -qE "^(\.BI? )?$c( |\$)" <<<"$plain" || fail "qv840ctl.1 lacks the command $c"
    grep -q "commands=.*\b$c\b" "$p/share/bash-completion/completions/qv840ctl" ||
        fail "the completion lacks $c"
done

# From another folder, nothing beside the program: the start-up files are
# found in share/qv840n.
mkdir "$tmp/work" && cd "$tmp/work"
ctl=$p/bin/qv840ctl
"$ctl" simulate --link "$tmp/unit" >/dev/null &
sim=$!
for _ in $(seq 50); do [ -e "$tmp/unit" ] && break; sleep 0.1; done
{
    printf 'slot,terminal,group,message\r\n'
    for k in $(seq 0 19); do
        case $k in
        0) printf '0,L1-40,"Recycle, L1-3","CHAUDIÈRE, 5 €"\r\n' ;;
        7) printf '7,,,"SAY ""HI"" É"\r\n' ;;
        *) printf '%s,,,LIMIT %s OPEN\r\n' "$k" "$k" ;;
        esac
    done
} >table.csv
"$ctl" -p "$tmp/unit" write-all table.csv
"$ctl" -p "$tmp/unit" read-all -o back.csv
for row in '0,L1-40,"Recycle, L1-3","CHAUDIÈRE, 5 €"' '7,46-47,Oil Limits,"SAY ""HI"" É"' \
    '19,60-P,Non-Recycle,LIMIT 19 OPEN'; do
    grep -qxF "$row"$'\r' back.csv || fail "back.csv lacks $row"
done

# The sheet holds every caption and message, é and € too.
"$ctl" -a 7 -p /dev/ttyUSB9 sheet back.csv -o sheet.pdf 2>/dev/null
text=$(pdftotext sheet.pdf -)
for needle in "Recycle, L1-3" "Non-Recycle" "Oil Limits" "Gas Limits" \
    L1-40 40-41 41-42 42-3 3-43 43-44 44-46 46-47 47-48 48-50 50-51 51-52 52-54 54-55 55-56 \
    56-57 57-58 58-59 59-60 60-P "CHAUDIÈRE, 5 €" 'SAY "HI" É' \
    "LIMIT 1 OPEN" "LIMIT 2 OPEN" "LIMIT 3 OPEN" "LIMIT 4 OPEN" "LIMIT 5 OPEN" "LIMIT 6 OPEN" \
    "LIMIT 8 OPEN" "LIMIT 9 OPEN" "LIMIT 10 OPEN" "LIMIT 11 OPEN" "LIMIT 12 OPEN" \
    "LIMIT 13 OPEN" "LIMIT 14 OPEN" "LIMIT 15 OPEN" "LIMIT 16 OPEN" "LIMIT 17 OPEN" \
    "LIMIT 18 OPEN" "LIMIT 19 OPEN" "Unit address: 7" "Port: /dev/ttyUSB9" \
    "File: $tmp/work/back.csv"; do
    grep -qF -- "$needle" <<<"$text" || fail "the sheet lacks \"$needle\""
done
echo "PASS"
