#!/usr/bin/env bash
# What a screen reader gets: the real program on a real X server, on a private session bus with
# its own accessibility bus, every dialog opened by the keyboard alone and its accessibility tree
# read over AT-SPI. Every field and button must have a name, and no two in a window the same.
# Usage: atspi.sh PATH/TO/qlumar_vpn OUTPUT_DIR   (the trees land in OUTPUT_DIR/atspi-*.txt)
set -u
app=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
launcher=/usr/libexec/at-spi-bus-launcher
# Never the desktop's own buses: a bus of our own, gone when this script ends.
if [ -z "${QLUMAR_ATSPI_PRIVATE_BUS:-}" ] && command -v dbus-run-session >/dev/null 2>&1; then
    QLUMAR_ATSPI_PRIVATE_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$here/xvfb_common.sh"
need Xvfb trayer xwininfo xdotool dbus-run-session dbus-send "$launcher"
if ! "$python" -c 'import pyatspi' 2>/dev/null; then
    echo "SKIP: python3-pyatspi is not installed (scripts/install-deps installs it)"
    exit 77
fi

mkdir -p "$out"
start_xvfb

"$launcher" --launch-immediately >"$work/launcher.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null 2>&1 && break
    sleep 0.1
done
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 ||
    { cat "$work/launcher.log"; fail "the accessibility bus did not start"; }

start_trayer 32

export HOME=$work/home
root=$HOME/.qlumar_velkoro_client
mkdir -p "$root/0000" "$root/0001"
printf '#\n# qLumarVpnName Office\n#\nremote vpn.example.net\nrport 1194\nca ca\ncert user\nkey k\n' >"$root/0000/conf"
printf 'CA\n' >"$root/0000/ca"
printf 'USER\n' >"$root/0000/user"
printf '#\n# qLumarVpnName Roaming\n#\nremote 10.0.0.1\nrport 1194\npkcs12 /keys/me.p12\n' >"$root/0001/conf"

# Qt asks the desktop whether a screen reader runs; here nobody would say so.
start_app "$work/app.log" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QLUMAR_UPDATE_URL=http://127.0.0.1:9/updates.info

window_of() { window_line "$1" | awk '{ print $1 }'; }
wait_for() {
    for _ in $(seq 100); do [ -n "$(window_of "$1")" ] && return 0; sleep 0.1; done
    cat "$work/app.log"
    fail "window \"$1\" did not appear"
}
# check FILE TITLE: the window's tree into OUTPUT_DIR/atspi-FILE.txt, its names checked.
check() {
    "$python" "$here/atspi_tree.py" "qLumar Velkoro" "$2" >"$out/atspi-$1.txt" 2>&1
    local code=$?
    cat "$out/atspi-$1.txt"
    [ "$code" -eq 0 ] || fail "\"$2\": the accessibility tree has problems (above)"
    echo "tree: $out/atspi-$1.txt"
}
# keys KEY...: typed into the main window, the list holding the focus.
keys() {
    xdotool windowfocus "$(window_of "qLumar Velkoro")"
    sleep 0.2
    for key in "$@"; do
        xdotool key "$key"
        sleep 0.3
    done
}
close() {
    xdotool key Escape
    for _ in $(seq 50); do [ -z "$(window_of "$1")" ] && return 0; sleep 0.1; done
    fail "\"$1\" did not close on Escape"
}

wait_for "qLumar Velkoro"
sleep 0.5
check main "qLumar Velkoro"
grep -q '^ *image | VPN disconnected | No VPN connection is running.$' "$out/atspi-main.txt" ||
    fail "the connection picture does not tell the state"
grep -q '^ *list | Available VPN connections |' "$out/atspi-main.txt" || fail "the list has no name"

# Enter connects the highlighted profile: first the password prompt.
keys Home Return
wait_for "Enter private key password"
check password "Enter private key password"
close "Enter private key password"

# Home and End pick the profile; Menu opens the list's menu; its mnemonics pick the action.
keys Home Menu n
wait_for "VPN connection creation method"
check creation-method "VPN connection creation method"
xdotool key Return
wait_for "New connection wizard"
check new-certificate "New connection wizard"
close "New connection wizard"

keys Home Menu n Down Return
wait_for "New connection wizard"
check new-pkcs12 "New connection wizard"
close "New connection wizard"

keys Home Menu e
wait_for "Connection setup"
check edit-certificate "Connection setup"
close "Connection setup"

keys End Menu e
wait_for "Connection setup"
check edit-pkcs12 "Connection setup"
close "Connection setup"

keys Home Menu i
wait_for "Connection details"
check details "Connection details"
close "Connection details"

# The About dialog, from the tray menu: the last item but one.
tray=$(tray_icon)
size=$(echo "$tray" | grep -o '[0-9]*x[0-9]*+[0-9]*+[0-9]*' | head -n 1 | sed 's/+.*//')
at=$(echo "$tray" | grep -o ' +[0-9]*+[0-9]*' | tail -n 1 | tr -d ' ')
tray_x=${at#+}
tray_y=${tray_x#*+}
tray_x=${tray_x%+*}
xdotool mousemove $((tray_x + ${size%x*} / 2)) $((tray_y + ${size#*x} / 2)) click 3
sleep 0.5
xdotool key Up Up Return
wait_for "About"
check about "About"
close "About"

grep -q 'push button | Select CA certificate' "$out/atspi-edit-certificate.txt" ||
    fail "the CA certificate's Select button does not say what it selects"
grep -q 'push button | Select PKCS#12 certificate file' "$out/atspi-edit-pkcs12.txt" ||
    fail "the PKCS#12 Select button does not say what it selects"
echo "PASS"
