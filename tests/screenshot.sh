#!/usr/bin/env bash
# Starts the real program on a real X server with a real XEmbed tray host, captures the screen
# and checks that both the main window and the tray icon appeared, then ends it the way the
# desktop would (SIGTERM) and checks that it closed cleanly.
# Usage: screenshot.sh PATH/TO/qlumar_vpn OUTPUT_DIR
set -u
app=$1
out=$2
for tool in Xvfb trayer xwininfo /usr/bin/import /usr/bin/convert; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (scripts/install-deps installs it)"
        exit 77
    fi
done
mkdir -p "$out"
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Xvfb picks a free display number itself and reports it once it accepts connections: a number
# chosen by looking into /tmp races with other tests starting an X server at the same moment.
# -noreset: by default the server resets whenever its last client leaves (here: each xwininfo
# poll) and refuses connections meanwhile, so trayer or the program could fail to connect.
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^[0-9][0-9]*$' "$work/display" && break; sleep 0.1; done
grep -q '^[0-9][0-9]*$' "$work/display" || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
xwininfo -root >/dev/null 2>&1 || fail "Xvfb did not start"

trayer --edge top --align right --widthtype request --height 32 --SetDockType true --transparent false \
    >"$work/trayer.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do xwininfo -root -tree | grep -q '"panel"' && break; sleep 0.1; done
# Without a tray host the program only says it cannot run, which would pass for a missing window.
xwininfo -root -tree | grep -q '"panel"' || { cat "$work/trayer.log"; fail "the tray host did not start"; }

export HOME=$work/home
mkdir -p "$HOME"
unset QT_QPA_PLATFORM
"$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)

# The window and the icon embedded in the tray host's panel must both show up.
window=""
for _ in $(seq 100); do
    tree=$(xwininfo -root -tree)
    window=$(echo "$tree" | grep '"qLumar Velkoro"' | head -n 1)
    tray=$(echo "$tree" | sed -n '/"panel"/,$p' | grep '"qlumar_vpn"' | head -n 1)
    [ -n "$window" ] && [ -n "$tray" ] && break
    sleep 0.1
done
[ -n "$window" ] || { cat "$work/app.log"; fail "the main window did not appear"; }
[ -n "$tray" ] || { cat "$work/app.log"; fail "the tray icon was not embedded in the tray host"; }
sleep 0.5

shot="$out/main-window.png"
/usr/bin/import -window root "$shot" || fail "could not capture the screen"
# A window that was mapped but never painted is one flat colour.
geometry=$(echo "$window" | grep -o '[0-9]*x[0-9]*+[0-9]*+[0-9]*' | head -n 1)
spread=$(/usr/bin/convert "$shot" -crop "$geometry" +repage -colorspace gray -format '%[fx:standard_deviation]' info:)
awk -v s="$spread" 'BEGIN { exit !(s > 0.02) }' || fail "the captured window is blank (deviation $spread)"
tray_geometry=$(echo "$tray" | grep -o '[0-9]*x[0-9]*+[0-9]*+[0-9]*' | tail -n 1)
echo "main window at $geometry, tray icon at $tray_geometry"
echo "screenshot: $shot"

kill -TERM "$app_pid"
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end on SIGTERM"
wait "$app_pid"
code=$?
[ "$code" -eq 0 ] || fail "exit code $code after SIGTERM"
[ -f "$HOME/.qlumar_velkoro_client/lang" ] || fail "\"lang\" was not written at exit"
echo "PASS"
