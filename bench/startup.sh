#!/usr/bin/env bash
# Start-up to first paint, off-screen: the manager against a bare Qt tray program built the same way,
# in instructions counted by callgrind (which a busy machine does not change) and in peak RSS.
#   bench/startup.sh [BIN_DIR [PROFILE_COUNTS...]]     defaults: build/bin, 0 100 1000
# 10000 profiles take a few minutes under callgrind: bench/startup.sh build/bin 0 100 1000 10000
# Nothing leaves the machine: the update check goes to 127.0.0.1.
set -euo pipefail

bin=${1:-build/bin}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(0 100 1000)

if ! command -v valgrind >/dev/null; then
    echo "startup.sh: valgrind not found (Debian: apt-get install valgrind); skipped"
    exit 0
fi
for program in startup_bare startup_window startup_ours; do
    [ -x "$bin/$program" ] || { echo "startup.sh: build $bin/$program first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 0700 "$work/runtime"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
export QLUMAR_UPDATE_URL=http://127.0.0.1:9/updates.info
# The user's own settings must not change what is measured.
unset QLUMAR_ENGINE QLUMAR_OPENVPN QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS

instructions() {
    valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$@" 2>&1 |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
peakRss() {
    "$@" 2>&1 >/dev/null | sed -n 's/^peak-rss-kb //p'
}

mkdir -p "$work/bare"
bareInstr=$(HOME="$work/bare" instructions "$bin/startup_bare")
bareRss=$(HOME="$work/bare" peakRss "$bin/startup_bare")
printf '%-22s %14s %8s %14s %8s\n' "" "instructions" "ratio" "peak RSS (KB)" "ratio"
printf '%-22s %14s %8s %14s %8s\n' "bare Qt tray program" "$bareInstr" "1.00" "$bareRss" "1.00"
row() {
    printf '%-22s %14s %8s %14s %8s\n' "$1" "$2" \
        "$(awk -v a="$2" -v b="$bareInstr" 'BEGIN { printf "%.2f", a / b }')" "$3" \
        "$(awk -v a="$3" -v b="$bareRss" 'BEGIN { printf "%.2f", a / b }')"
}
# Our window's widgets with nothing behind them: the floor for any program that shows it.
row "same window, no logic" "$(HOME="$work/bare" instructions "$bin/startup_window")" \
    "$(HOME="$work/bare" peakRss "$bin/startup_window")"
for count in "${counts[@]}"; do
    home="$work/home$count"
    mkdir -p "$home/.qlumar_velkoro_client"
    "$bin/startup_ours" --seed "$home/.qlumar_velkoro_client" "$count"
    row "ours, $count profiles" "$(HOME="$home" instructions "$bin/startup_ours")" \
        "$(HOME="$home" peakRss "$bin/startup_ours")"
done
