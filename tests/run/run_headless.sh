#!/bin/sh
# shellcheck disable=SC2016 # the checks pass their file names to sh -c as arguments
# The run command's session without a screen: scripts/demo starts the test bus, writes the
# sample file and opens kelvload and kelvmon on the offscreen platform (or on Xvfb), each with
# the probe plugin, which drives the windows as a user would:
#   kelvload: port COM18 and the sample file are selected; Find Devices lists the test bus's
#             three devices; Space downloads the file, which the test bus checks byte by byte
#             and pause by pause; then the window is closed.
#   kelvmon:  port COM19 is open and the generated messages appear in the list; then the window
#             is closed.
# Then everything the session started must have stopped and its folder must be gone.
#
#   run_headless.sh SOURCE-DIR PROBE-PLUGIN-DIR [OFFSCREEN-PLUGIN-FILE]
# with KESTROM_KELVLOAD, KESTROM_KELVMON, KESTROM_TRAKBUS_SIM and KESTROM_KFW_GEN naming the
# programs. Exit status 77 (skipped) only when there is no display platform at all.
set -u
SRC=$1
PLUGINS=$2
OFFSCREEN_PLUGIN=${3:-}
LIMIT_SECONDS=${KESTROM_RUN_TEST_LIMIT:-240}

T=$(mktemp -d "${TMPDIR:-/tmp}/kestrom-runtest.XXXXXX") || exit 1
trap 'rm -rf "$T"' EXIT
mkdir -p "$T/tmp" "$T/keep" "$T/runtime"
chmod 700 "$T/runtime"
# Qt keeps its run-time files here rather than in the session's temporary folder.
export XDG_RUNTIME_DIR="$T/runtime"

failures=0
check() { # description command...
    what=$1
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        failures=$((failures + 1))
    fi
}

# A display platform: offscreen when Qt has it, else a virtual X display.
unset DISPLAY WAYLAND_DISPLAY
RUNNER=""
if [ -n "$OFFSCREEN_PLUGIN" ] && [ -f "$OFFSCREEN_PLUGIN" ]; then
    export QT_QPA_PLATFORM=offscreen
elif command -v xvfb-run >/dev/null 2>&1; then
    export QT_QPA_PLATFORM=xcb
    RUNNER="xvfb-run -a"
else
    echo "no display platform: neither Qt's offscreen platform nor xvfb-run is installed"
    exit 77
fi
echo "display platform: $QT_QPA_PLATFORM"

# The waits are upper bounds for a loaded machine; a quiet one passes each in well under a
# second. A download needs every echo within the loader's echo time-out, which a heavily loaded
# machine can miss now and then, so a failed first download is tried once more.
cat >"$T/kelvload.steps" <<EOF
waitfor 60000 ^combo: COM18 of
waitfor 10000 ^label: .*Product = 12
click Find Devices
waitfor 30000 ^row: .*00019234
waitfor 10000 ^row: .*00019301
waitfor 10000 ^row: .*002A0007
dump $T/kelvload-devices.txt
click Exit
wait 300
key Space
waitfile 90000 \${KESTROM_DEMO_DIR}/bus-18.out ^download 1: result
skipif \${KESTROM_DEMO_DIR}/bus-18.out 3 ^download 1: result OK
wait 1500
key Space
waitfile 90000 \${KESTROM_DEMO_DIR}/bus-18.out ^download 2: result
wait 1500
dump $T/kelvload.txt
close
EOF
cat >"$T/kelvmon.steps" <<EOF
waitfor 60000 COM Port 19 Open
waitfor 30000 ^row: ([0-9A-F]{2} )+$
wait 1000
dump $T/kelvmon.txt
close
EOF

# The session, bounded in time: a program that does not close fails the test instead of
# hanging it.
TMPDIR="$T/tmp" KESTROM_PROBE_PLUGINS="$PLUGINS" KESTROM_DEMO_KEEP="$T/keep" \
    KESTROM_KELVLOAD_PROBE="$T/kelvload.steps" KESTROM_KELVMON_PROBE="$T/kelvmon.steps" \
    $RUNNER sh "$SRC/scripts/demo" "$T" >"$T/demo.out" 2>&1 &
DEMO=$!
waited=0
while kill -0 "$DEMO" 2>/dev/null && [ "$waited" -lt "$((LIMIT_SECONDS * 10))" ]; do
    sleep 0.1
    waited=$((waited + 1))
done
if kill -0 "$DEMO" 2>/dev/null; then
    echo "FAIL the session did not end within $LIMIT_SECONDS s; stopping it"
    failures=$((failures + 1))
    kill "$DEMO"
fi
wait "$DEMO"
status=$?

show() { # file
    echo "---- $(basename "$1")"
    if [ -f "$1" ]; then cat "$1"; else echo "(missing)"; fi
}
check "the session ended with status 0 (got $status)" [ "$status" -eq 0 ]

check "kelvload: every probe step passed" \
    sh -c 'grep -qx done "$1" && ! grep -q "^FAIL" "$1"' - "$T/kelvload.steps.log"
check "kelvmon: every probe step passed" \
    sh -c 'grep -qx done "$1" && ! grep -q "^FAIL" "$1"' - "$T/kelvmon.steps.log"

check "kelvload: port COM18 selected" grep -q '^combo: COM18 of' "$T/kelvload.txt"
check "kelvload: the sample file's header shown" grep -q 'Product = 12' "$T/kelvload.txt"
check "kelvload: Find Devices listed the three devices" \
    sh -c 'grep -q 00019234 "$1" && grep -q 00019301 "$1" && grep -q 002A0007 "$1"' - \
    "$T/kelvload-devices.txt"
# The download that succeeded must be free of faults: every message, byte and pause as the
# sample file asks.
ok_download=$(sed -n 's/^download \([12]\): result OK$/\1/p' "$T/keep/bus-18.out" | head -n 1)
check "test bus: a download matched the sample file" [ -n "$ok_download" ]
if [ "$ok_download" = 2 ]; then
    echo "note: the first download failed and the second succeeded:"
    grep '^download 1:' "$T/keep/bus-18.out"
fi
check "test bus: the image matched and no violation was reported" \
    sh -c 'grep -q "^download $2: image matches" "$1" &&
           ! grep -q "^download $2: violation" "$1"' - "$T/keep/bus-18.out" "${ok_download:-0}"

check "kelvmon: port COM19 open" grep -q 'COM Port 19 Open' "$T/kelvmon.txt"
# Every line in the list is one whole message of hexadecimal bytes, and there are several.
check "kelvmon: the generated messages are shown" \
    sh -c '[ "$(grep -cE "^row: ([0-9A-F]{2} )+\$" "$1")" -ge 3 ] &&
           ! grep "^row: " "$1" | grep -qvE "^row: ([0-9A-F]{2} )+\$"' - "$T/kelvmon.txt"

check "the test buses were stopped" \
    sh -c 'grep -q "ending on SIGTERM" "$1" && grep -q "ending on SIGTERM" "$2"' - \
    "$T/keep/bus-18.log" "$T/keep/bus-19.log"
check "the session's temporary folder is removed" \
    sh -c '[ -z "$(ls -A "$1")" ]' - "$T/tmp"
check "the session said that it stopped" grep -q 'stopped; temporary files removed' "$T/demo.out"

if [ "$failures" -ne 0 ]; then
    for f in demo.out kelvload.steps.log kelvmon.steps.log kelvload-devices.txt kelvload.txt \
        kelvmon.txt keep/bus-18.out keep/bus-18.log keep/bus-19.log; do
        show "$T/$f"
    done | head -n 400
    exit 1
fi
echo "all checks passed"
