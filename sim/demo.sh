#!/usr/bin/env bash
# The demo board: a simulated board whose slot 1 holds a small demo application image made
# with imgtool, powered on with this terminal as its serial console, up to the start of the
# application. Run by "./dev demo" as: sim/demo.sh BUILD_DIR [extra "bootsim run" options]
set -euo pipefail
BUILD=$(cd "${1:?usage: sim/demo.sh BUILD_DIR}" && pwd)
shift
BOOTSIM=$BUILD/sim/bootsim
IMGTOOL=$BUILD/tools/imgtool
for program in "$BOOTSIM" "$BUILD/sim/bootmgr-sim" "$IMGTOOL"; do
    [ -x "$program" ] || { echo "demo: $program is not built" >&2; exit 1; }
done

WORK=$BUILD/demo-board
BOARD=$WORK/board
rm -rf "$WORK"
mkdir -p "$WORK/tree/home/bin"

# The application OS tree that the boot manager unpacks into /tmp.
APP=$WORK/tree/home/bin
cat >"$APP/mp.elf.strip" <<'SCRIPT'
#!/bin/sh
echo "demo application: running with DEMO_MODE=$DEMO_MODE"
SCRIPT
echo "demo-distro 1.0" >"$APP/distro-id"
cat >"$APP/install.sh" <<'SCRIPT'
#!/bin/sh
echo "demo install script: $(ls /tmp/home/bin | wc -l) files in /tmp/home/bin"
SCRIPT
printf 'DEMO_MODE production\nDEMO_LEVEL 3\n' >"$APP/env-setup"
chmod 755 "$APP/mp.elf.strip" "$APP/install.sh"
tar -C "$WORK/tree" --owner=0 --group=0 -czf "$WORK/app.tar.gz" home

"$IMGTOOL" create --type application --version 1.0.0.1 --format 1 -o "$WORK/image1" "$WORK/app.tar.gz"
"$IMGTOOL" info "$WORK/image1"

"$BOOTSIM" new "$BOARD"
mkdir -p "$BOARD/root/user/images"
cp "$WORK/image1" "$BOARD/root/user/images/image1"
"$BOOTSIM" eeprom "$BOARD" set 0x100 1

echo "demo: powering on $BOARD (its console is this terminal; Ctrl-C goes to the boot manager)"
status=0
"$BOOTSIM" run "$BOARD" "$@" || status=$?
echo "demo: what the application starter saw:"
grep '^backtrace' "$BOARD/events.log" || true
exit $status
