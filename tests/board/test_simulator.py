"""The simulator itself: the board set-up commands, the sandbox's programs running the boot
manager's literal command lines, and how a power-on starts and ends. Stand-in boot managers
(small /bin/sh programs run in place of bootmgr-sim) drive the board here, so these tests
do not depend on the boot path."""

import hashlib
import os
import random
import subprocess
import time
import zlib

import pytest

import harness


def fake_boot_manager(tmp_path, body: str, name: str = "fake-bootmgr"):
    """A /bin/sh program for the board that can log with `event` like the stand-ins."""
    path = tmp_path / name
    path.write_text("#!/bin/sh\n. /usr/lib/bootsim/events.sh\n" + body)
    path.chmod(0o755)
    return path


def running_commands() -> str:
    """Command lines of every process on the host, one per line."""
    lines = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                lines.append(cmdline.read().replace(b"\0", b" ").decode(errors="replace"))
        except OSError:
            continue
    return "\n".join(lines)


def bootsim(*args) -> subprocess.CompletedProcess:
    return subprocess.run([harness.bootsim_path(), *map(str, args)], capture_output=True,
                          text=True)


# --- set-up commands ---------------------------------------------------------------------


def test_eeprom_bytes_round_trip_without_touching_their_neighbours(board):
    board.eeprom_set(0x101, 0x11)
    board.eeprom_set(0xFF, 0x22)
    for offset, value in [(harness.BOOT_SLOT, 2), (harness.BOOTED_IMAGE, 4),
                          (harness.USB_STATUS, harness.USB_PRESENT), (0, 0), (0xFFFF, 255)]:
        board.eeprom_set(offset, value)
        assert board.eeprom_get(offset) == value
    assert board.eeprom_get(0x101) == 0x11
    assert board.eeprom_get(0xFF) == 0x22
    # Decimal and 0x-hex name the same byte.
    assert bootsim("eeprom", board.path, "get", "256").stdout.strip() == "2"


@pytest.mark.parametrize("args", [
    ["set", "0x100", "256"],   # not a byte
    ["set", "0x100", "-1"],
    ["get", "12abc"],          # trailing garbage
    ["get", "0x"],
    ["get", ""],
    ["set", "0x100"],          # missing value
    ["frob", "1"],
])
def test_eeprom_refuses_malformed_numbers_and_commands(board, args):
    before = board.eeprom_get(harness.BOOT_SLOT)
    assert bootsim("eeprom", board.path, *args).returncode == 2
    assert board.eeprom_get(harness.BOOT_SLOT) == before


def test_flash_write_then_read_gives_the_data_then_erased_bytes(board):
    data = os.urandom(5000)
    for partition in harness.PARTITIONS:
        board.flash_write(partition, data)
        content = board.flash_read(partition)
        assert content[:len(data)] == data, partition
        assert content[len(data):] == b"\xff" * (len(content) - len(data)), partition
    # A shorter second write leaves the rest erased, not the old bytes.
    board.flash_write("kernel", b"\x00" * 10)
    content = board.flash_read("kernel")
    assert content[:10] == b"\x00" * 10 and content[10:5000] == b"\xff" * 4990
    assert bootsim("flash", board.path, "nosuch", "read", board.path / "x").returncode == 1


def test_env_set_writes_a_big_endian_environment_in_the_order_given(board):
    entries = ["xgdb=on", "gdb=off", "gdbport=2345", "shell=on now"]
    board.set_env(*entries)
    assert board.env() == entries
    area = board.flash_read("ubootenv")
    assert len(area) == harness.ENV_PARTITION_SIZE
    assert area[4:].startswith(b"xgdb=on\0gdb=off\0gdbport=2345\0shell=on now\0\0")
    assert int.from_bytes(area[:4], "big") == zlib.crc32(area[4:])
    # A new set replaces the whole environment.
    board.set_env("diagnostics=rescue")
    assert board.env() == ["diagnostics=rescue"]
    board.set_env()
    assert board.env() == []
    assert bootsim("env", board.path, "set", "novalue").returncode == 2
    assert board.env() == []


def test_usb_insert_fills_the_stick_and_remove_empties_it(board, tmp_path):
    board.insert_usb({"LMW3190_OS.img": b"image", "sub/readme": b"x"})
    stick = board.path / "usb"
    assert (stick / "LMW3190_OS.img").read_bytes() == b"image"
    assert (stick / "sub/readme").read_bytes() == b"x"
    assert board.eeprom_get(harness.USB_STATUS) == harness.USB_PRESENT
    # A second stick replaces the first one's files.
    board.insert_usb({"other": b"2"})
    assert sorted(p.name for p in stick.iterdir()) == ["other"]
    board.remove_usb()
    assert list(stick.iterdir()) == []
    assert board.eeprom_get(harness.USB_STATUS) == 0


def test_new_refuses_an_existing_board_and_keeps_its_user_files(board):
    board.write_slot(1, b"slot one")
    result = bootsim("new", board.path)
    assert result.returncode == 1 and "already" in result.stderr
    assert board.read_slot(1) == b"slot one"
    assert board.conf("usb_delay") == "1"


# --- the sandbox runs the boot manager's command lines -----------------------------------


def test_boot_manager_command_lines_work_inside_the_board(board, tmp_path):
    tarball = harness.tarball({"home/bin/distro-id": "d\n"})
    board.user_path("src.tar.gz").write_bytes(tarball)
    # Each line is run as system() runs it: /bin/sh -c LINE, from the working directory "/".
    # (The gdb, gdbserver and application starter lines are the board scenarios' business.)
    fake = fake_boot_manager(tmp_path, r'''
run() { sh -c "$1"; }
event probe.cwd "$(pwd)"
run "/bin/mount -o sync -t jffs2 /dev/mtd-user /user"
run "/usr/bin/find /user > dev/null" && event probe.find ok
run "/bin/busybox md5sum /user/src.tar.gz > /tmp/img_md5string"
event probe.md5 "$(head -c 32 /tmp/img_md5string)"
run "mkdir -p /user/images/rejected"
run "touch /user/images/rejected/0123456789abcdef0123456789abcdef"
cp /user/src.tar.gz /tmp/tolviimage.tar.gz
run "$(printf 'cd /tmp \ntar mxzf %s \nrm %s\n' /tmp/tolviimage.tar.gz /tmp/tolviimage.tar.gz)"
[ -e /tmp/tolviimage.tar.gz ] || event probe.tarball removed
[ -f /tmp/home/bin/distro-id ] && event probe.unpacked ok
run "cp /user/src.tar.gz /user/images/image2
"
reboot
''')
    events = board.boot(timeout=60, bootmgr=fake).events
    assert events.details("probe", "cwd") == ["/"]
    assert events.calls("mount") == ["-o sync -t jffs2 /dev/mtd-user /user"]
    assert events.details("probe", "find") == ["ok"]
    assert events.details("probe", "md5") == [hashlib.md5(tarball).hexdigest()]
    assert events.details("probe", "tarball") == ["removed"]
    assert events.details("probe", "unpacked") == ["ok"]
    assert board.user_path("images/rejected/0123456789abcdef0123456789abcdef").is_file()
    assert board.read_slot(2) == tarball


def test_filesystem_erase_empties_user(board, tmp_path):
    board.write_slot(1, b"one")
    board.user_path("config").write_text("saved")
    fake = fake_boot_manager(tmp_path, r'''
sh -c "/bin/umount /user &> /dev/null"
sh -c "flash_eraseall /dev/mtd-user-char"
sh -c "/bin/mount -o sync -t jffs2 /dev/mtd-user /user &> /dev/null"
sh -c "mkdir /user/images &> /dev/null"
reboot
''')
    result = board.boot(timeout=60, bootmgr=fake)
    assert result.status == harness.REBOOT, result.output
    assert result.events.calls("umount") == ["/user"]
    assert result.events.calls("flash_eraseall") == ["/dev/mtd-user-char"]
    assert sorted(p.name for p in board.user_path("").iterdir()) == ["images"]
    assert list(board.user_path("images").iterdir()) == []


# --- power-on lifecycle ------------------------------------------------------------------


@pytest.mark.parametrize("ending, status, reason, line", [
    ("exec /bin/backtrace", harness.APPLICATION, "application", "bootsim: application started"),
    ("sh -c reboot", harness.REBOOT, "reboot", "bootsim: board rebooted"),
    ("/sbin/reboot -f", harness.REBOOT, "reboot", "bootsim: board rebooted"),
    ("exit 7", harness.EXITED, "exited 7", "bootsim: boot manager exited with status 7"),
    ("kill -9 $$", harness.KILLED, "killed 9", "bootsim: boot manager killed by signal 9"),
])
def test_each_ending_of_a_power_on_has_its_own_status(board, tmp_path, ending, status, reason,
                                                      line):
    # A process left running must not outlive the board's power-on. (A number of seconds of
    # its own tells it from other boards' processes on this machine.)
    seconds = random.randint(100000, 999999)
    fake = fake_boot_manager(tmp_path, f"sleep {seconds} &\nsleep 0.2\n{ending}\nsleep 30\n")
    result = board.boot(timeout=60, bootmgr=fake)
    assert result.status == status, result.output
    assert line in result.output
    assert f"(events: {board.path}/events.log)" in result.output
    assert result.events.power_off == reason
    if status == harness.REBOOT:
        assert "reboot" in result.events
    assert f"sleep {seconds}" not in running_commands()


@pytest.mark.parametrize("cut, status, reason, line", [
    ("time limit", harness.TIMED_OUT, "timeout", "bootsim: power-on timed out"),
    ("SIGTERM", harness.SWITCHED_OFF, "switched-off", "bootsim: board switched off"),
])
def test_a_hanging_board_can_be_cut_off(board, tmp_path, cut, status, reason, line):
    seconds = random.randint(100000, 999999)
    fake = fake_boot_manager(tmp_path, f"echo READY\nsleep {seconds}\n")
    args = [harness.bootsim_path(), "run", board.path]
    if cut == "time limit":
        args += ["--timeout", "2"]
    started = time.monotonic()
    run = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                           env=dict(os.environ, BOOTSIM_BOOTMGR=str(fake)))
    assert run.stdout.readline() == "READY\n"
    if cut == "SIGTERM":
        run.terminate()
    out, _ = run.communicate(timeout=30)
    assert run.returncode == status
    assert time.monotonic() - started < 10
    assert line in out
    assert board.events().power_off == reason
    assert f"sleep {seconds}" not in running_commands()


def test_tmp_starts_empty_and_user_persists_across_power_ons(board, tmp_path):
    fake = fake_boot_manager(tmp_path, r'''
event probe.tmp "$(ls -A /tmp | tr '\n' ' ')"
event probe.user "$(ls -A /user | tr '\n' ' ')"
touch /tmp/left-over /user/kept
reboot
''')
    first = board.boot(timeout=60, bootmgr=fake)
    second = board.boot(timeout=60, bootmgr=fake)
    assert first.events.details("probe", "tmp") == [""]
    assert first.events.details("probe", "user") == [""]
    assert second.events.details("probe", "tmp") == [""]
    assert second.events.details("probe", "user") == ["kept "]
    assert len(harness.parse_power_ons((board.path / "events.log").read_text())) == 2


# Polls for the USB-ready marker for up to 4 seconds and logs when it appeared, in seconds
# of uptime: "probe.ready START SEEN" or "probe.never".
USB_PROBE = r'''
start=$(cut -d' ' -f1 /proc/uptime)
event probe.before "$(ls /mnt/usb | tr '\n' ' ')"
i=0
while [ $i -lt 40 ] && [ ! -e /tmp/usb ]; do sleep 0.1; i=$((i + 1)); done
if [ -e /tmp/usb ]; then
    event probe.ready "$start $(cut -d' ' -f1 /proc/uptime)"
else
    event probe.never
fi
event probe.stick "$(ls /mnt/usb | tr '\n' ' ')"
reboot
'''


@pytest.mark.parametrize("stick, delay, ready_after", [
    (True, 2, 2),
    (True, 0, 0),
    (True, -1, None),   # the stick's file system never gets ready
    (False, 0, None),   # no stick, no marker
])
def test_usb_marker_appears_after_the_board_delay_only_with_a_stick(board, tmp_path, stick,
                                                                   delay, ready_after):
    if stick:
        board.insert_usb({"LMW3190_OS.img": b"x"})
    board.set_conf("usb_delay", delay)
    fake = fake_boot_manager(tmp_path, USB_PROBE)
    events = board.boot(timeout=60, bootmgr=fake).events
    if ready_after is None:
        assert events.details("probe", "never") == [""], events
        assert "bootsim.usb-ready /tmp/usb" not in events
    else:
        start, seen = map(float, events.details("probe", "ready")[0].split())
        # The helper counts from the start of the power-on, shortly before the boot manager
        # (which a loaded machine may start late).
        assert ready_after - 1.0 <= seen - start <= ready_after + 1.5, events
        assert "bootsim.usb-ready /tmp/usb" in events
    # The stick's files show in /mnt/usb once it is mounted, not before.
    assert events.details("probe", "before") == ["LMW3190_OS.img " if ready_after == 0 else ""]
    assert events.details("probe", "stick") == ["" if ready_after is None else "LMW3190_OS.img "]


def test_console_is_the_callers_terminal_and_ctrl_c_reaches_only_the_boot_manager(board,
                                                                                   tmp_path):
    fake = fake_boot_manager(tmp_path, r'''
trap 'echo GOT-INT; touch /tmp/go' INT
[ -t 0 ] && echo STDIN-IS-A-TTY
echo VIA-TTYS0 > /dev/ttyS0
echo READY
while [ ! -e /tmp/go ]; do sleep 0.1; done
read -r line
echo "LINE=[$line]"
exec /bin/backtrace
''')
    console = board.power_on(timeout=30, bootmgr=fake)
    console.expect_exact("STDIN-IS-A-TTY")
    console.expect_exact("VIA-TTYS0")
    console.expect_exact("READY")
    console.interrupt()
    console.expect_exact("GOT-INT")
    console.sendline("typed")
    console.expect_exact("LINE=[typed]")
    result = console.wait_end()
    assert result.status == harness.APPLICATION
    assert "STDIN-IS-A-TTY" in result.transcript
    assert "bootsim: application started" in result.transcript


@pytest.mark.parametrize("encoding", [None, "utf-8"])
def test_xmodem_download_over_the_console_lands_in_tmp_image(board, tmp_path, encoding):
    data = os.urandom(8 * 1024)
    source = tmp_path / "package.img"
    source.write_bytes(data)
    fake = fake_boot_manager(tmp_path, r'''
stty raw -echo
echo READY
/usr/bin/rx /tmp/image 2>/dev/null
stty sane
echo RX-DONE and more
event probe.md5 "$(md5sum < /tmp/image)"
read -r line
echo "LINE=[$line]"
reboot
''')
    console = board.power_on(timeout=60, encoding=encoding, bootmgr=fake)
    text = (lambda t: t) if encoding else str.encode
    console.expect_exact(text("READY"))
    shown = console.send_xmodem(source, until=b"RX-DONE", timeout=60)
    assert b"RX-DONE" not in shown
    # The text after the transfer is left for the console, which goes on as before.
    console.expect_exact(text("RX-DONE and more"))
    console.sendline(text("after"))
    console.expect_exact(text("LINE=[after]"))
    result = console.wait_end()
    assert result.status == harness.REBOOT
    assert result.transcript.count(text("RX-DONE and more")) == 1
    assert result.transcript.count(text("READY")) == 1
    assert result.events.calls("rx") == ["/tmp/image"]
    md5 = result.events.details("probe", "md5")[0].split()[0]
    assert md5 == hashlib.md5(data).hexdigest()
