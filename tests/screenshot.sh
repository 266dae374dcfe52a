#!/usr/bin/env bash
# Starts the real program on a real X server, first without a tray host (a plain window, then
# an XEmbed tray host coming later takes the icon), then with one from the start: captures the
# screen and checks that both the main window and the tray icon appeared, then ends it the way
# the desktop would (SIGTERM) and checks that it closed cleanly.
# Usage: screenshot.sh PATH/TO/qlumar_vpn OUTPUT_DIR
set -u
app=$1
out=$2
. "$(dirname "$0")/xvfb_common.sh"
need Xvfb trayer xwininfo xdotool rsvg-convert /usr/bin/import /usr/bin/convert /usr/bin/compare /usr/bin/python3
mkdir -p "$out"
start_xvfb

# --- No tray at start, one later ------------------------------------------------------------
# Without a tray host the program runs as a plain window with a notice; a tray host that starts
# later gets the icon, and closing the window then hides it there instead of ending the program.
start_app "$work/app0.log"
window=""
for _ in $(seq 100); do
    window=$(window_line "qLumar Velkoro")
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { cat "$work/app0.log"; fail "the main window did not appear without a tray"; }
window_id=$(echo "$window" | awk '{ print $1 }')
sleep 1
kill -0 "$app_pid" 2>/dev/null || { cat "$work/app0.log"; fail "the program ended without a tray"; }
[ -z "$(tray_icon)" ] || fail "a tray icon without a tray host"
/usr/bin/import -window root "$out/no-tray.png" || fail "could not capture the screen"
echo "screenshot: $out/no-tray.png"

start_trayer 32
tray=$(wait_for_tray_icon "$work/app0.log")
[ -n "$tray" ] || fail "the tray icon did not come with the tray host"
echo "a tray host started later: the icon is embedded"
close_window "$window_id"
for _ in $(seq 50); do
    xwininfo -id "$window_id" 2>/dev/null | grep -q 'Map State: IsUnMapped' && break
    sleep 0.1
done
xwininfo -id "$window_id" 2>/dev/null | grep -q 'Map State: IsUnMapped' ||
    fail "closing the window did not hide it into the tray"
kill -0 "$app_pid" 2>/dev/null || { cat "$work/app0.log"; fail "closing the window ended the program"; }
echo "closing the window hid it into the tray"
kill -TERM "$app_pid"
wait "$app_pid"
code=$?
[ "$code" -eq 0 ] || fail "exit code $code after SIGTERM"
rm -rf "$work/home"

# --- With a tray host from the start --------------------------------------------------------
start_app "$work/app.log"

# The window and the icon embedded in the tray host's panel must both show up.
window=""
for _ in $(seq 100); do
    window=$(window_line "qLumar Velkoro")
    tray=$(tray_icon)
    [ -n "$window" ] && [ -n "$tray" ] && break
    sleep 0.1
done
[ -n "$window" ] || { cat "$work/app.log"; fail "the main window did not appear"; }
[ -n "$tray" ] || { cat "$work/app.log"; fail "the tray icon was not embedded in the tray host"; }

shot="$out/main-window.png"
# A window that was mapped but never painted is one flat colour; a loaded machine may take a while
# to paint it.
geometry=$(echo "$window" | grep -o '[0-9]*x[0-9]*+[0-9]*+[0-9]*' | head -n 1)
spread=0
for _ in $(seq 40); do
    sleep 0.25
    /usr/bin/import -window root "$shot" || fail "could not capture the screen"
    spread=$(/usr/bin/convert "$shot" -crop "$geometry" +repage -colorspace gray -format '%[fx:standard_deviation]' info:)
    awk -v s="$spread" 'BEGIN { exit !(s > 0.02) }' && break
done
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

# --- Scale factor 2 -------------------------------------------------------------------------
# A HiDPI desktop: the toolkit scaled by 2 and a panel twice as tall. Each picture on screen is
# compared with a 2x render of its SVG source, and must be far closer to it than the 1x picture
# scaled up (what a program without HiDPI pictures shows).
img=$(cd "$(dirname "$0")/../resources/img" && pwd)

# rmse A B [search]: the normalised root mean square difference, B searched inside A with "search".
rmse() {
    local args=(-metric RMSE)
    [ "${3:-}" = search ] && args+=(-subimage-search)
    /usr/bin/compare "${args[@]}" "$1" "$2" null: 2>&1 | sed -n 's/^[^(]*(\([0-9.e-]*\)).*/\1/p' | head -n 1
}
# sharp NAME SHOWN SVG W H: SHOWN holds SVG rendered at WxH (on SHOWN's background), and a 1x
# picture scaled up would be at least twice as far from that render.
sharp() {
    local name=$1 shown=$2 svg=$3 w=$4 h=$5 bg got blurry
    bg=$(/usr/bin/convert "$shown" -format '%[pixel:p{1,1}]' info:)
    rsvg-convert --width "$w" --height "$h" "$img/src/$svg.svg" |
        /usr/bin/convert - -background "$bg" -flatten "$work/$name-svg.png"
    /usr/bin/convert "$img/$svg.png" -resize "${w}x${h}!" -background "$bg" -flatten "$work/$name-1x.png"
    got=$(rmse "$shown" "$work/$name-svg.png" search)
    blurry=$(rmse "$work/$name-1x.png" "$work/$name-svg.png")
    [ -n "$got" ] && [ -n "$blurry" ] || fail "$name: could not compare with the SVG render"
    echo "$name: $got from the 2x SVG render (the 1x picture scaled up: $blurry)"
    awk -v g="$got" -v b="$blurry" 'BEGIN { exit !(g * 2 < b) }' || fail "$name is not sharp at scale 2"
}
geometry_of() { echo "$1" | grep -o '[0-9]*x[0-9]*+[0-9]*+[0-9]*' | head -n 1; }
# wait_for TITLE: the line of the program's top-level window with that title.
wait_for() {
    local line=""
    for _ in $(seq 100); do
        line=$(window_line "$1")
        [ -n "$line" ] && break
        sleep 0.1
    done
    [ -n "$line" ] || { cat "$work/app2.log"; fail "window \"$1\" did not appear"; }
    # A window is mapped before its layout has settled (slowly on a busy machine): wait until its
    # geometry stops changing.
    local settled
    for _ in $(seq 25); do
        sleep 0.2
        settled=$(window_line "$1")
        [ "$(geometry_of "$settled")" = "$(geometry_of "$line")" ] && break
        line=$settled
    done
    echo "$line"
}

kill "$trayer_pid"
wait "$trayer_pid" 2>/dev/null
start_trayer 64
conf="$HOME/.qlumar_velkoro_client/0000/conf"
mkdir -p "$(dirname "$conf")"
printf '#\n# qLumarVpnName Office\n#\nremote vpn.example.net\nrport 1194\nca ca\ncert user\nkey k\n' >"$conf"
start_app "$work/app2.log" QT_SCALE_FACTOR=2 QLUMAR_UPDATE_URL=http://127.0.0.1:9/updates.info
window=$(wait_for "qLumar Velkoro")
tray=$(wait_for_tray_icon "$work/app2.log")
[ -n "$tray" ] || fail "the tray icon was not embedded at scale 2"
sleep 0.5

shot="$out/main-window@2x.png"
/usr/bin/import -window root "$shot" || fail "could not capture the screen"
echo "screenshot: $shot"
geometry=$(geometry_of "$window")
x=${geometry#*+}
y=${x#*+}
x=${x%+*}
# The connection picture (192x48 at 1x) lies in the window's top-left cell.
/usr/bin/convert "$shot" -crop "480x140+$x+$y" +repage "$work/picture.png"
sharp "connection picture" "$work/picture.png" connect_01 384 96
# The icon's window sits inside the panel: its size, then its position on the screen.
tray_geometry=$(geometry_of "$tray" | sed 's/+.*//')$(echo "$tray" | grep -o ' +[0-9]*+[0-9]*' | tail -n 1 | tr -d ' ')
/usr/bin/convert "$shot" -crop "$tray_geometry" +repage "$out/tray-icon@2x.png"
echo "screenshot: $out/tray-icon@2x.png (tray icon at $tray_geometry)"
tray_size=${tray_geometry%%+*}
side=$(( ${tray_size%x*} < ${tray_size#*x} ? ${tray_size%x*} : ${tray_size#*x} ))
sharp "tray icon" "$out/tray-icon@2x.png" vpn_dis "$side" "$side"

# Keyboard only: the Menu key on the list opens one menu, N picks New connection, Enter takes the
# first creation method.
xdotool windowfocus "$(echo "$window" | awk '{ print $1 }')"
sleep 0.3
xdotool key Down
sleep 0.3
# Top-level windows of the program only (the tray icon is the panel's child); a menu is a new one.
# Menus are named after the application like the main window, so they are counted, not named.
top_levels() { xwininfo -root -tree | grep -c '^     0x[0-9a-f]* "[^"]*": ("qlumar_vpn"'; }
before=$(top_levels)
xdotool key Menu
for _ in $(seq 50); do
    [ "$(top_levels)" -gt "$before" ] && break
    sleep 0.1
done
sleep 0.3
popups=$(( $(top_levels) - before ))
[ "$popups" -eq 1 ] || fail "the Menu key opened $popups menus"
xdotool key n
wait_for "VPN connection creation method" >/dev/null
xdotool key Return
dialog=$(wait_for "New connection wizard")
sleep 0.5
/usr/bin/import -window root "$work/dialog-screen.png" || fail "could not capture the screen"
/usr/bin/convert "$work/dialog-screen.png" -crop "$(geometry_of "$dialog")" +repage "$out/dialog@2x.png"
echo "screenshot: $out/dialog@2x.png"
xdotool key Escape

# The About banner, through the tray menu: the last item but one.
tray_x=${tray_geometry#*+}
tray_y=${tray_x#*+}
tray_x=${tray_x%+*}
xdotool mousemove $((tray_x + ${tray_size%x*} / 2)) $((tray_y + ${tray_size#*x} / 2)) click 3
sleep 0.5
xdotool key Up Up Return
about=$(wait_for "About")
sleep 0.5
/usr/bin/import -window root "$work/about-screen.png" || fail "could not capture the screen"
/usr/bin/convert "$work/about-screen.png" -crop "$(geometry_of "$about")" +repage "$out/about@2x.png"
echo "screenshot: $out/about@2x.png"
# The banner (384x166 at 1x) is opaque; found at a quarter of the size first, then compared whole.
/usr/bin/convert "$out/about@2x.png" -crop 900x420+0+0 +repage -scale 25% "$work/about-small.png"
rsvg-convert --width 192 --height 83 "$img/src/qlumar_about_velkoro_384.svg" -o "$work/banner-small.png"
at=$(/usr/bin/compare -metric RMSE -subimage-search "$work/about-small.png" "$work/banner-small.png" null: 2>&1 |
    grep -o '@ [0-9]*,[0-9]*' | tr -d '@ ')
[ -n "$at" ] || fail "the About banner was not found"
bx=$(( ${at%,*} * 4 > 8 ? ${at%,*} * 4 - 8 : 0 ))
by=$(( ${at#*,} * 4 > 8 ? ${at#*,} * 4 - 8 : 0 ))
/usr/bin/convert "$out/about@2x.png" -crop "784x348+$bx+$by" +repage "$work/banner.png"
sharp "About banner" "$work/banner.png" qlumar_about_velkoro_384 768 332
xdotool key Escape

kill -TERM "$app_pid"
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end on SIGTERM at scale 2"
wait "$app_pid"
code=$?
[ "$code" -eq 0 ] || fail "exit code $code after SIGTERM at scale 2"
echo "PASS"
