# Sourced by the scripts that run the real program on an X server of their own: a scratch
# directory, processes ended on exit, Xvfb, the trayer tray host and the program's windows.
# The sourcing script sets -u and defines nothing of these names.

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# need TOOL...: skips the test (exit 77) unless every tool is there.
need() {
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed (scripts/install-deps installs it)"
            exit 77
        fi
    done
}

# Xvfb picks a free display number itself and reports it once it accepts connections: a number
# chosen by looking into /tmp races with other tests starting an X server at the same moment.
# -noreset: by default the server resets whenever its last client leaves (here: each xwininfo
# poll) and refuses connections meanwhile, so trayer or the program could fail to connect.
start_xvfb() {
    Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do grep -q '^[0-9][0-9]*$' "$work/display" && break; sleep 0.1; done
    grep -q '^[0-9][0-9]*$' "$work/display" || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
    DISPLAY=:$(head -n 1 "$work/display")
    export DISPLAY
    xwininfo -root >/dev/null 2>&1 || fail "Xvfb did not start"
}

# start_trayer HEIGHT: an XEmbed tray host along the top edge; its pid in trayer_pid.
start_trayer() {
    trayer --edge top --align right --widthtype request --height "$1" --SetDockType true --transparent false \
        >>"$work/trayer.log" 2>&1 &
    trayer_pid=$!
    pids+=($trayer_pid)
    for _ in $(seq 50); do xwininfo -root -tree | grep -q '"panel"' && break; sleep 0.1; done
    xwininfo -root -tree | grep -q '"panel"' || { cat "$work/trayer.log"; fail "the tray host did not start"; }
}

# The program's icon embedded in the tray host's panel (an xwininfo line), empty when there is none.
# Only the panel's own subtree (lines indented deeper than it) counts: the program's other windows
# may be listed after the panel too.
tray_icon() {
    xwininfo -root -tree | awk '
        !depth && /"panel"/ { match($0, /^ */); depth = RLENGTH; next }
        depth { match($0, /^ */); if (RLENGTH <= depth) exit; if (/"qlumar_vpn"/) { print; exit } }'
}

# wait_for_tray_icon LOG: the icon's line once it is embedded; fails after 10 s.
wait_for_tray_icon() {
    local tray=""
    for _ in $(seq 100); do
        tray=$(tray_icon)
        [ -n "$tray" ] && break
        sleep 0.1
    done
    [ -n "$tray" ] || { cat "$1"; fail "the tray icon was not embedded in the tray host"; }
    echo "$tray"
}

# The program's top-level window with that title (an xwininfo line), empty when there is none.
# Top-level: a child of the root window, not the tray icon of the same name inside the panel.
window_line() { xwininfo -root -tree | grep "^     0x[0-9a-f]* \"$1\": (\"qlumar_vpn\"" | head -n 1; }

# start_app LOG [VAR=VALUE...]: the program in a fresh HOME under $work, on the real X server;
# its pid in app_pid. HOME is kept when the caller set it up already.
start_app() {
    local log=$1
    shift
    [ "${HOME:-}" = "$work/home" ] || export HOME=$work/home
    mkdir -p "$HOME"
    unset QT_QPA_PLATFORM
    env "$@" "$app" >"$log" 2>&1 &
    app_pid=$!
    pids+=($app_pid)
}

# close_window ID: what a window manager sends when the window's close button is pressed
# (WM_DELETE_WINDOW); Xvfb has no window manager, and xdotool can only destroy a window.
close_window() {
    /usr/bin/python3 - "$1" <<'PY' || fail "could not ask window $1 to close"
import ctypes, ctypes.util, sys
x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
display = x.XOpenDisplay(None)
if not display:
    sys.exit(1)
window = int(sys.argv[1], 0)
event = Event()
event.xclient.type = 33  # ClientMessage
event.xclient.window = window
event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.xclient.format = 32
event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
x.XFlush(display)
PY
}
