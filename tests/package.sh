#!/usr/bin/env bash
# Builds the Debian package (scripts/build-package, Release, in its own build directory that later
# runs reuse), unpacks it into a throw-away root with dpkg -x (nothing is installed into the
# system), checks its files and control fields, runs lintian, drives the packaged engine through
# both kinds of profile and starts the packaged manager under Xvfb with a tray host.
# Usage: package.sh SOURCE_DIR PACKAGE_BUILD_DIR OUTPUT_DIR PROJECT_VERSION
set -u
source_dir=$1
package_build=$2
out=$3
version=$4
here=$(cd "$(dirname "$0")" && pwd)

for tool in dpkg-deb dpkg-shlibdeps dpkg-buildflags cpack file gzip; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (it comes with dpkg, dpkg-dev, cmake or file: scripts/install-deps installs them)"
        exit 77
    fi
done

work=$(mktemp -d)
engine_pid=""
cleanup() {
    [ -n "$engine_pid" ] && kill "$engine_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
die() { echo "FAIL: $*"; exit 1; }

echo "== building the package in $package_build"
"$source_dir/scripts/build-package" "$package_build" >"$work/build.log" 2>&1 || {
    tail -n 40 "$work/build.log"
    die "scripts/build-package failed"
}
deb=$(tail -n 1 "$work/build.log")
[ -f "$deb" ] || die "no package file ('$deb')"
echo "package: $deb"

echo "== control fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "qlumar-velkoro" ] || fail "Package is '$(field Package)'"
case "$(field Version)" in
"$version"-*) ;;
*) fail "Version '$(field Version)' is not the project version $version with a Debian revision" ;;
esac
[ "$(field Section)" = "net" ] || fail "Section is '$(field Section)'"
[ "$(field Maintainer)" = "qLumar Velkoro developers <dev@qlumar-velkoro.example>" ] ||
    fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
echo "Depends: $depends"
# Read off the binaries: the manager needs Qt Widgets, the engine OpenSSL.
for lib in libc6 libqt6widgets6 libssl3; do
    echo "$depends" | grep -Eq "(^|, )$lib( |,|$)" || fail "Depends does not name $lib"
done
field Recommends | grep -qw softhsm2 || fail "Recommends does not name softhsm2"
# The engine runs a real OpenVPN by default, through the package's tunnel service.
echo "$depends" | grep -Eq "(^|, )openvpn( |,|$)" || fail "Depends does not name openvpn"
echo "$depends" | grep -Eq "(^|, )polkitd( |,|$)" || fail "Depends does not name polkitd"

echo "== files"
root=$work/root
dpkg-deb -x "$deb" "$root" || die "dpkg-deb -x failed"
# The manager looks for its engine at <application dir>/../bin/.
for program in qlumar_vpn qlumar_openvpn; do
    path=$root/usr/bin/$program
    [ -x "$path" ] || { fail "usr/bin/$program missing or not executable"; continue; }
    file "$path" | grep -q ', stripped' || fail "usr/bin/$program is not stripped"
    missing=$(ldd "$path" 2>&1 | grep 'not found')
    [ -z "$missing" ] || fail "usr/bin/$program misses libraries: $missing"
    [ -f "$root/usr/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
done
echo "== the tunnel service"
service=$root/usr/libexec/qlumar-tunnel-service
if [ -x "$service" ]; then
    file "$service" | grep -q ', stripped' || fail "usr/libexec/qlumar-tunnel-service is not stripped"
    missing=$(ldd "$service" 2>&1 | grep 'not found')
    [ -z "$missing" ] || fail "usr/libexec/qlumar-tunnel-service misses libraries: $missing"
    [ -f "$root/usr/share/man/man8/qlumar-tunnel-service.8.gz" ] || fail "no manual page for qlumar-tunnel-service"
else
    fail "usr/libexec/qlumar-tunnel-service missing or not executable"
fi
unit=$root/usr/lib/systemd/system/qlumar-tunnel.service
if [ -f "$unit" ]; then
    grep -qx 'ExecStart=/usr/libexec/qlumar-tunnel-service' "$unit" || fail "the unit does not start /usr/libexec/qlumar-tunnel-service"
    for line in 'Type=dbus' 'BusName=example.qlumar.Velkoro.Tunnel' 'RuntimeDirectory=qlumar-tunnel' \
        'DeviceAllow=/dev/net/tun rw' 'ProtectSystem=strict' 'ProtectHome=yes' 'PrivateTmp=yes' 'NoNewPrivileges=yes'; do
        grep -qxF "$line" "$unit" || fail "the unit lacks '$line'"
    done
    if command -v systemd-analyze >/dev/null; then
        # As installed, but with the program where it was unpacked, which verify checks for.
        sed "s|^ExecStart=/usr/libexec/|ExecStart=$root/usr/libexec/|" "$unit" >"$work/qlumar-tunnel.service"
        complaints=$(systemd-analyze verify "$work/qlumar-tunnel.service" 2>&1) ||
            fail "systemd-analyze verify rejects the unit: $complaints"
        [ -z "$complaints" ] || fail "systemd-analyze verify complains: $complaints"
    else
        echo "note: systemd-analyze not installed, the unit not verified"
    fi
else
    fail "no systemd unit usr/lib/systemd/system/qlumar-tunnel.service"
fi
activation=$root/usr/share/dbus-1/system-services/example.qlumar.Velkoro.Tunnel.service
for line in '[D-BUS Service]' 'Name=example.qlumar.Velkoro.Tunnel' 'Exec=/usr/libexec/qlumar-tunnel-service' \
    'User=root' 'SystemdService=qlumar-tunnel.service'; do
    grep -qxF "$line" "$activation" 2>/dev/null || fail "the D-Bus activation file lacks '$line'"
done
bus_policy=$root/usr/share/dbus-1/system.d/example.qlumar.Velkoro.Tunnel.conf
polkit_policy=$root/usr/share/polkit-1/actions/example.qlumar.Velkoro.policy
if command -v xmllint >/dev/null; then
    # dbus ships a DTD that predates the send_*/receive_* attributes every policy uses; they are
    # added to a copy of it, nothing else.
    bus_dtd=/usr/share/xml/dbus-1/busconfig.dtd
    if [ -f "$bus_dtd" ]; then
        attributes=""
        for a in send_interface send_member send_error send_destination send_destination_prefix send_path \
            send_type send_requested_reply send_broadcast receive_interface receive_member receive_error \
            receive_sender receive_path receive_type receive_requested_reply eavesdrop own_prefix group; do
            attributes="$attributes $a CDATA #IMPLIED"
        done
        sed "s/receive_from CDATA #IMPLIED>/receive_from CDATA #IMPLIED$attributes>/" "$bus_dtd" >"$work/busconfig.dtd"
        xmllint --noout --dtdvalid "$work/busconfig.dtd" "$bus_policy" || fail "the D-Bus policy does not validate"
    else
        xmllint --noout "$bus_policy" || fail "the D-Bus policy is not well-formed XML"
        echo "note: $bus_dtd missing (libdbus-1-dev), the D-Bus policy only checked for well-formedness"
    fi
    polkit_dtd=/usr/share/polkit-1/policyconfig-1.dtd
    if [ -f "$polkit_dtd" ]; then
        xmllint --noout --dtdvalid "$polkit_dtd" "$polkit_policy" || fail "the polkit policy does not validate"
    else
        xmllint --noout "$polkit_policy" || fail "the polkit policy is not well-formed XML"
        echo "note: $polkit_dtd missing (polkitd), the polkit policy only checked for well-formedness"
    fi
else
    fail "xmllint not installed (libxml2-utils): the D-Bus and polkit policies cannot be checked"
fi
grep -q '<allow_active>yes</allow_active>' "$polkit_policy" 2>/dev/null || fail "polkit: allow_active is not yes"
grep -q '<allow_any>auth_admin_keep</allow_any>' "$polkit_policy" 2>/dev/null || fail "polkit: allow_any is not auth_admin_keep"
dpkg-deb -e "$deb" "$work/control" || fail "dpkg-deb -e failed"
for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "no $script maintainer script"
    sh -n "$work/control/$script" 2>/dev/null || fail "$script is not valid sh"
done
grep -q 'qlumar-openvpn' "$work/control/postinst" 2>/dev/null || fail "postinst does not make the system user"

desktop=$root/usr/share/applications/example.qlumar.Velkoro.desktop
if [ -f "$desktop" ]; then
    for line in "Name=qLumar Velkoro" "Name[pl]=" "Comment=" "Comment[pl]=" "Exec=qlumar_vpn" \
        "Icon=qlumar-velkoro" "Categories=Network;Security;"; do
        grep -qF "$line" "$desktop" || fail "desktop file lacks '$line'"
    done
    if command -v desktop-file-validate >/dev/null; then
        complaints=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate rejects it: $complaints"
        echo "$complaints" | grep -v ': hint: ' | grep . && fail "desktop-file-validate complains"
    else
        echo "note: desktop-file-validate not installed, desktop file not validated"
    fi
else
    fail "no desktop file"
fi
for size in 16 22 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/qlumar-velkoro.png
    file "$icon" 2>/dev/null | grep -q "PNG image data, $size x $size" || fail "no ${size}x$size PNG icon"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/qlumar-velkoro.svg" 2>/dev/null ||
    fail "no scalable SVG icon"
# The tray's states by name, for StatusNotifierItem hosts that draw from the theme.
for state in disconnected connecting connected; do
    for size in 16 22 24 32 48 64; do
        icon=$root/usr/share/icons/hicolor/${size}x${size}/status/qlumar-velkoro-$state.png
        file "$icon" 2>/dev/null | grep -q "PNG image data, $size x $size" || fail "no ${size}x$size $state icon"
    done
    grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/status/qlumar-velkoro-$state.svg" 2>/dev/null ||
        fail "no scalable $state icon"
done
metainfo=$root/usr/share/metainfo/example.qlumar.Velkoro.metainfo.xml
if [ -f "$metainfo" ]; then
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo"
    else
        echo "note: appstreamcli not installed, metainfo not validated"
    fi
else
    fail "no AppStream metainfo"
fi
doc=$root/usr/share/doc/qlumar-velkoro
head -n 1 "$doc/copyright" 2>/dev/null |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "no machine-readable copyright file"
grep -q '^License: GPL-3' "$doc/copyright" 2>/dev/null || fail "copyright does not name the GPL-3"
top=$(gzip -dc "$doc/changelog.Debian.gz" 2>/dev/null | head -n 1)
[ "$top" = "qlumar-velkoro ($(field Version)) unstable; urgency=medium" ] ||
    fail "changelog.Debian.gz does not start with the package version: '$top'"
# Programs live in usr/bin and, for the tunnel service's helpers, usr/libexec.
bad_modes=$(find "$root" -mindepth 1 \( -type d ! -perm 0755 \) -o \
    \( -type f ! -path '*/usr/bin/*' ! -path '*/usr/libexec/*' ! -perm 0644 \) -o \
    \( -type f \( -path '*/usr/bin/*' -o -path '*/usr/libexec/*' \) ! -perm 0755 \))
[ -z "$bad_modes" ] || fail "unusual permissions: $bad_modes"

if command -v lintian >/dev/null; then
    echo "== lintian"
    lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' | tee "$work/lintian.log"
    grep -q '^E:' "$work/lintian.log" && fail "lintian reports errors"
else
    echo "note: lintian not installed, package not checked by it"
fi

echo "== the packaged engine"
# Both kinds of profile, exactly as the manager starts the engine: in the profile's directory.
if seed_env=$("$source_dir/scripts/seed-demo-home" "$work/demo" 2>"$work/seed.log"); then
    profiles=$work/demo/.qlumar_velkoro_client
    run_engine() {
        local dir=$1
        shift
        # shellcheck disable=SC2086
        # The demo server does not exist: the simulator connects.
        (cd "$profiles/$dir" && exec env $seed_env QLUMAR_ENGINE=simulator "$root/usr/bin/qlumar_openvpn" --config conf --dev tun \
            --float --pull --tls-client "$@") >"$work/engine-$dir.log" 2>&1 &
        engine_pid=$!
        for _ in $(seq 100); do
            grep -q 'Initialization Sequence Completed' "$work/engine-$dir.log" && break
            kill -0 "$engine_pid" 2>/dev/null || break
            sleep 0.1
        done
        if grep -q 'Initialization Sequence Completed' "$work/engine-$dir.log"; then
            kill -TERM "$engine_pid"
            wait "$engine_pid"
            local code=$?
            [ "$code" -eq 0 ] || fail "engine exit code $code after SIGTERM (profile $dir)"
        else
            kill "$engine_pid" 2>/dev/null
            wait "$engine_pid" 2>/dev/null
            cat "$work/engine-$dir.log"
            fail "the packaged engine did not connect profile $dir"
        fi
        engine_pid=""
    }
    run_engine 0000 --keypass demo1234
    run_engine 0001 --engkey --engine dudidudovi:user_pin:1234
else
    cat "$work/seed.log"
    fail "scripts/seed-demo-home could not make the demo profiles"
fi

[ "$failures" -eq 0 ] || die "$failures package checks failed"

echo "== the packaged manager under Xvfb"
"$here/screenshot.sh" "$root/usr/bin/qlumar_vpn" "$out"
code=$?
if [ "$code" -eq 77 ]; then
    echo "SKIP: every package check passed, but the packaged manager was not started (see above)"
    exit 77
fi
[ "$code" -eq 0 ] || die "the packaged manager did not start and end cleanly"
echo "PASS"
