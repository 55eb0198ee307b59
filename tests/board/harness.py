"""Board-test harness: simulated boards driven through bootsim, and the images they boot.

Owns the Python side of the simulator: making and setting up a board directory (EEPROM,
flash, boot loader environment, slot files, USB stick), powering it on under pexpect with
the console as a pseudo-terminal, and reading the event log that the board's stand-in
programs write. The scenario tests in tests/board use it through the fixtures of
conftest.py; the paths of bootsim and imgtool come from the environment variables BOOTSIM
and IMGTOOL, which tests/board/CMakeLists.txt sets.

Event log lines (DIR/events.log), one power-on after another:
    bootsim.power-on N             a power-on starts
    PROGRAM ARGS...                a stand-in was called (mount, umount, flash_eraseall,
                                   rx, backtrace, gdbserver; reboot is logged by init)
    PROGRAM.cwd DIR                its working directory
    PROGRAM.env NAME=VALUE         its environment, in name order
    backtrace.fd N TARGET          descriptors 0-9 the application starter inherited
    backtrace.tree KIND MODE SIZE MD5 PATH   the tree under /tmp/home/bin
    bootsim.usb-ready /tmp/usb     the hot-plug helper made the USB marker
    bootsim.power-off REASON       application | reboot | exited N | killed N | timeout |
                                   switched-off
"""

from __future__ import annotations

import dataclasses
import gzip
import hashlib
import io
import os
import pathlib
import select
import subprocess
import tarfile
import tempfile
import termios
import time

import pexpect

# Exit statuses of `bootsim run`.
APPLICATION = 0
FAILED = 1
REBOOT = 3
EXITED = 4
KILLED = 5
TIMED_OUT = 6
SWITCHED_OFF = 7

# Bytes of the board parameter store.
BOOT_SLOT = 0x100
BOOTED_IMAGE = 0x13A
USB_STATUS = 0x13B
USB_PRESENT = 213

# The application executable as the starter runs it, and what a gdb boot without gdb prints.
APP = "/tmp/home/bin/mp.elf.strip"
GDB_MISSING = "**** GDB mode selected but GDB not available. Please install GDB image ***"

# Seconds of expect time-out for a power-on.
DEFAULT_TIMEOUT = 120

# Seconds the XMODEM sender waits before it answers the board's receiver.
XMODEM_TURNAROUND = 0.03
XMODEM_ACK = b"\x06"
XMODEM_CANCEL = b"\x18" * 8  # Ctrl-X, as an operator cancels a receiver


def bootsim_path() -> str:
    return _tool("BOOTSIM")


def imgtool_path() -> str:
    return _tool("IMGTOOL")


def _tool(variable: str) -> str:
    path = os.environ.get(variable, "")
    if not path or not os.access(path, os.X_OK):
        raise RuntimeError(f"{variable} must name the built program (got {path!r})")
    return path


def _run(args, **kwargs) -> subprocess.CompletedProcess:
    result = subprocess.run(args, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, args))} failed ({result.returncode}): "
                           f"{result.stderr.strip()}")
    return result


# ---------------------------------------------------------------------------------------
# Images


def logging_script(name: str) -> str:
    """A /bin/sh program for the board that logs its call under NAME like the stand-ins do:
    "NAME ARGS...", "NAME.cwd DIR" and "NAME.env NAME=VALUE" lines. Used for the test gdb,
    application executables and install scripts."""
    return ("#!/bin/sh\n"
            ". /usr/lib/bootsim/events.sh\n"
            f"event {name} \"$@\"\n"
            f"event_context {name}\n")


# Files of a minimal compatible application: the executable and the distro-id marker.
DEFAULT_APP_FILES = {
    "home/bin/mp.elf.strip": (logging_script("app"), 0o755),
    "home/bin/distro-id": "test-distro\n",
}


def tarball(files: dict) -> bytes:
    """A gzip-compressed tar archive. FILES maps archive paths ("home/bin/x") to contents
    (bytes or str) or to (contents, mode); the default mode is 0644. Parent directories get
    their own entries, as a tar of a real tree has."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:gz", format=tarfile.USTAR_FORMAT) as archive:
        directories = set()
        for path in files:
            parts = path.strip("/").split("/")[:-1]
            for i in range(1, len(parts) + 1):
                directories.add("/".join(parts[:i]))
        for directory in sorted(directories):
            info = tarfile.TarInfo(directory)
            info.type = tarfile.DIRTYPE
            info.mode = 0o755
            info.mtime = 1_000_000_000
            archive.addfile(info)
        for path, entry in files.items():
            data, mode = entry if isinstance(entry, tuple) else (entry, 0o644)
            if isinstance(data, str):
                data = data.encode()
            info = tarfile.TarInfo(path.strip("/"))
            info.size = len(data)
            info.mode = mode
            info.mtime = 1_000_000_000
            archive.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def component(payload: bytes, type: str = "application", version: str = "1.0.0.0",
              format: int = 1, header_size: int | None = None,
              records: dict[int, bytes] | None = None, sign=None) -> bytes:
    """One image component made by imgtool create; SIGN names an RSA private key file that
    signs the payload (format 3)."""
    with tempfile.TemporaryDirectory() as work:
        source = pathlib.Path(work, "payload")
        source.write_bytes(payload)
        out = pathlib.Path(work, "component")
        args = [imgtool_path(), "create", "--type", type, "--version", version,
                "--format", str(format), "-o", str(out)]
        if header_size is not None:
            args += ["--header-size", str(header_size)]
        if sign is not None:
            args += ["--sign", str(sign)]
        for number, value in (records or {}).items():
            record = pathlib.Path(work, f"record{number}")
            record.write_bytes(value)
            args += ["--record", f"{number}={record}"]
        _run(args + [str(source)])
        return out.read_bytes()


def package(*components: bytes) -> bytes:
    """A package of whole components laid end to end, made by imgtool pack."""
    with tempfile.TemporaryDirectory() as work:
        paths = []
        for i, data in enumerate(components):
            path = pathlib.Path(work, f"c{i}")
            path.write_bytes(data)
            paths.append(str(path))
        out = pathlib.Path(work, "package")
        _run([imgtool_path(), "pack", "-o", str(out)] + paths)
        return out.read_bytes()


def application_image(files: dict | None = None, version: str = "1.0.0.0", format: int = 1,
                      type: str = "application", **kwargs) -> bytes:
    """An application (or, with type="diags", diagnostics) component whose payload is a
    tarball of FILES (default: DEFAULT_APP_FILES)."""
    return component(tarball(DEFAULT_APP_FILES if files is None else files), type=type,
                     version=version, format=format, **kwargs)


def tagged_image(tag: str, **kwargs) -> bytes:
    """An application image whose unpacked tree carries home/bin/tag holding TAG, so a test
    can tell which image the application starter got (see started_tag)."""
    return application_image(dict(DEFAULT_APP_FILES, **{"home/bin/tag": tag}), **kwargs)


def started_tag(run: PowerOn, tags) -> str | None:
    """Which of TAGS the started application's home/bin/tag holds, or None."""
    entry = run.events.tree().get("/tmp/home/bin/tag")
    for tag in tags:
        if entry and entry.md5 == hashlib.md5(tag.encode()).hexdigest():
            return tag
    return None


def corrupt(image: bytes) -> bytes:
    """The image with its last payload byte changed: its CRC no longer matches."""
    return image[:-1] + bytes([image[-1] ^ 0x01])


def gdb_component(version: str = "1.0.0.0") -> bytes:
    """A format-1 application component whose payload is a gzip-compressed gdb stand-in
    that logs its call as "gdb ARGS..." (plus gdb.cwd and gdb.env lines)."""
    return component(gzip.compress(logging_script("gdb").encode(), mtime=0),
                     type="application", version=version, format=1)


# ---------------------------------------------------------------------------------------
# Event log


@dataclasses.dataclass
class TreeEntry:
    kind: str  # file, dir or link
    mode: str  # octal permission bits as stat prints them ("755"), "-" for links
    size: int | None
    md5: str | None


class Events:
    """The event log lines of one power-on."""

    def __init__(self, lines: list[str]):
        self.lines = lines

    def __contains__(self, line: str) -> bool:
        return line in self.lines

    def __repr__(self) -> str:
        return "Events(\n  " + "\n  ".join(self.lines) + "\n)"

    def calls(self, program: str) -> list[str]:
        """The argument text of every call of PROGRAM, in order ("" for no arguments)."""
        found = []
        for line in self.lines:
            word, _, rest = line.partition(" ")
            if word == program:
                found.append(rest)
        return found

    def details(self, program: str, key: str) -> list[str]:
        """Values of the "PROGRAM.KEY VALUE" lines, in order."""
        return self.calls(f"{program}.{key}")

    def env(self, program: str) -> dict[str, str]:
        """Environment that PROGRAM was started with (its last call)."""
        result = {}
        for entry in self.details(program, "env"):
            name, _, value = entry.partition("=")
            result[name] = value
        return result

    def tree(self) -> dict[str, TreeEntry]:
        """The tree under /tmp/home/bin as the application starter saw it, by path."""
        result = {}
        for entry in self.details("backtrace", "tree"):
            kind, mode, size, md5, path = entry.split(" ", 4)
            result[path] = TreeEntry(kind, mode, None if size == "-" else int(size),
                                     None if md5 == "-" else md5)
        return result

    @property
    def power_off(self) -> str | None:
        values = self.details("bootsim", "power-off")
        return values[-1] if values else None


def parse_power_ons(text: str) -> list[Events]:
    """Splits an event log into its power-ons (lines before the first marker are dropped)."""
    runs: list[Events] = []
    for line in text.splitlines():
        if line.startswith("bootsim.power-on "):
            runs.append(Events([]))
        elif runs:
            runs[-1].lines.append(line)
    return runs


# ---------------------------------------------------------------------------------------
# Power-on


@dataclasses.dataclass
class PowerOn:
    """How a power-on ended: bootsim's exit status, the console text since the last expect
    (all of it for Board.boot), the events, and the whole console transcript."""
    status: int
    output: str
    events: Events
    transcript: str = ""

    @property
    def application_started(self) -> bool:
        return self.status == APPLICATION

    @property
    def rebooted(self) -> bool:
        return self.status == REBOOT


class Console:
    """The board's serial console during one power-on (a pexpect child of `bootsim run`).
    Text written by the test is typed on the console; the line discipline of the
    pseudo-terminal echoes it and turns Enter into a newline, as the board's tty does."""

    def __init__(self, board: Board, timeout: float, bootmgr=None):
        self.board = board
        env = dict(os.environ)
        if bootmgr is not None:
            env["BOOTSIM_BOOTMGR"] = str(bootmgr)
        self.child = pexpect.spawn(
            bootsim_path(), ["run", str(board.path), "--timeout", str(int(timeout) + 600)],
            timeout=timeout, encoding="utf-8", codec_errors="replace",
            dimensions=(50, 200), env=env)
        self._log = io.StringIO()
        self.child.logfile_read = self._log

    @property
    def transcript(self):
        """Everything the console has shown so far."""
        return self._log.getvalue()

    def expect(self, pattern, timeout: float | None = -1):
        """Waits for a regular expression (or a list of them); returns the index matched."""
        return self.child.expect(pattern, timeout=timeout)

    def expect_exact(self, text, timeout: float | None = -1):
        """Waits for literal text (or a list of texts); returns the index matched."""
        return self.child.expect_exact(text, timeout=timeout)

    def send(self, text) -> None:
        """Types TEXT without Enter (single keys for the menus)."""
        self.child.send(text)

    def sendline(self, text="") -> None:
        """Types TEXT and Enter."""
        self.child.sendline(text)

    def interrupt(self) -> None:
        """Ctrl-C on the console: SIGINT to the boot manager."""
        self.child.sendintr()

    def wait_key_read(self, timeout: float = 10) -> None:
        """Waits until the console's terminal leaves line mode: a single-key read has begun,
        so a key sent now reaches the boot manager as typed (in line mode the terminal would
        echo it and act on erase and end-of-file keys itself). The master side of the
        pseudo-terminal shares the attributes of the board's side."""
        deadline = time.monotonic() + timeout
        while termios.tcgetattr(self.child.child_fd)[3] & termios.ICANON:
            assert time.monotonic() < deadline, "the console never switched to single-key mode"
            time.sleep(0.01)

    def type_keys(self, keys: list[tuple[str | None, str]]) -> None:
        """Types each key (None: Ctrl-C as the terminal turns it into SIGINT) once a key read
        waits for it, and expects its echo before the next one."""
        for key, echo in keys:
            self.wait_key_read()
            if key is None:
                self.interrupt()
            else:
                self.send(key)
            self.expect_exact(echo)

    def send_xmodem(self, path, until: bytes | None = None, timeout: float = 120,
                    blocks: int | None = None) -> bytes:
        """Sends the file at PATH over the console with lrzsz's sx -k (XMODEM-1K) while the
        board's receiver runs, and returns everything the board wrote meanwhile. It ends when
        sx exits or, with UNTIL, as soon as the board writes UNTIL; that text and whatever
        follows it are left for the next expect. With BLOCKS, the transfer is cut once the
        board has acknowledged that many blocks: sx is killed and the operator cancels the
        receiver with Ctrl-X. (Over a pseudo-terminal the receiver's last
        acknowledgement can be lost when it flushes the line on exit: sx then waits for it,
        so tests pass UNTIL, the first text the board prints after the transfer.)"""
        child = self.child
        pending = child.buffer.encode()
        child.buffer = child.buffer[:0]
        seen = b""
        fresh = b""  # read here rather than by pexpect, so not in the transcript yet
        found = -1
        sender = subprocess.Popen(["sx", "-k", str(path)], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                if pending:
                    chunk, pending = pending, b""
                    seen += chunk
                    if until is not None and until in seen:
                        found = seen.index(until)
                        break
                    if blocks is not None and seen.count(XMODEM_ACK) >= blocks:
                        os.write(child.child_fd, XMODEM_CANCEL)
                        break
                    # The receiver empties its input right after each request it sends;
                    # an answer that came sooner would be lost, as it cannot on a real line.
                    time.sleep(XMODEM_TURNAROUND)
                    try:
                        sender.stdin.write(chunk)
                        sender.stdin.flush()
                    except BrokenPipeError:
                        pass
                if sender.poll() is not None:
                    break
                ready, _, _ = select.select([child.child_fd, sender.stdout], [], [], 0.2)
                if child.child_fd in ready:
                    try:
                        pending = os.read(child.child_fd, 4096)
                    except OSError:
                        break  # the power-on ended
                    fresh += pending
                if sender.stdout in ready:
                    chunk = os.read(sender.stdout.fileno(), 4096)
                    if chunk:
                        os.write(child.child_fd, chunk)
        finally:
            sender.kill()
            sender.wait()
        left = (seen[found:] if found >= 0 else b"") + pending
        shown = seen[:found] if found >= 0 else seen
        self._log.write(fresh.decode(errors="replace"))
        left = left.decode(errors="replace")
        # pexpect searches its unmatched text (_before) as fresh data; both must hold it.
        child.buffer = left
        child._before = child.buffer_type()
        child._before.write(left)
        return shown

    def wait_end(self, timeout: float | None = -1) -> PowerOn:
        """Reads the console to the end of the power-on and returns how it ended."""
        self.child.expect(pexpect.EOF, timeout=timeout)
        rest = self.child.before
        self.child.close()
        status = self.child.exitstatus
        if status is None:
            status = -(self.child.signalstatus or 0)
        return PowerOn(status, rest, self.board.events(), self.transcript)

    def close(self) -> None:
        if self.child.isalive():
            self.child.close(force=True)


class Board:
    """A board directory made by `bootsim new`: DIR/board.conf, the device files, the event
    log DIR/events.log and the root file system DIR/root (the board's /user is
    DIR/root/user; the files of its USB stick are in DIR/usb, mounted on /mnt/usb when the
    stick gets ready)."""

    def __init__(self, path: pathlib.Path):
        self.path = pathlib.Path(path)
        self._consoles: list[Console] = []

    @classmethod
    def new(cls, path) -> Board:
        board = cls(path)
        board.bootsim("new")
        return board

    def bootsim(self, command: str, *args) -> str:
        """Runs `bootsim COMMAND DIR ARGS...` and returns its standard output."""
        return _run([bootsim_path(), command, str(self.path), *map(str, args)]).stdout

    # --- files of the board

    @property
    def root(self) -> pathlib.Path:
        return self.path / "root"

    def user_path(self, relative: str) -> pathlib.Path:
        """A path under the board's persistent /user."""
        return self.root / "user" / relative.lstrip("/")

    def slot_path(self, slot: int) -> pathlib.Path:
        return self.user_path(f"images/image{slot}")

    def write_slot(self, slot: int, data: bytes) -> None:
        """Stores DATA as /user/images/image1 or image2."""
        path = self.slot_path(slot)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)

    def read_slot(self, slot: int) -> bytes | None:
        path = self.slot_path(slot)
        return path.read_bytes() if path.exists() else None

    # --- parameter store, flash, environment, USB, board.conf

    def eeprom_get(self, offset: int) -> int:
        return int(self.bootsim("eeprom", "get", hex(offset)))

    def eeprom_set(self, offset: int, value: int) -> None:
        self.bootsim("eeprom", "set", hex(offset), value)

    @property
    def boot_slot(self) -> int:
        return self.eeprom_get(BOOT_SLOT)

    @boot_slot.setter
    def boot_slot(self, value: int) -> None:
        self.eeprom_set(BOOT_SLOT, value)

    @property
    def booted_image(self) -> int:
        return self.eeprom_get(BOOTED_IMAGE)

    @booted_image.setter
    def booted_image(self, value: int) -> None:
        self.eeprom_set(BOOTED_IMAGE, value)

    def flash_write(self, partition: str, data: bytes) -> None:
        """Puts DATA at offset 0 of PARTITION; the rest of it reads as erased."""
        with tempfile.NamedTemporaryFile(dir=self.path) as source:
            source.write(data)
            source.flush()
            self.bootsim("flash", partition, "write", source.name)

    def flash_read(self, partition: str) -> bytes:
        """The whole partition, erased bytes included."""
        with tempfile.TemporaryDirectory(dir=self.path) as work:
            out = pathlib.Path(work, "partition")
            self.bootsim("flash", partition, "read", out)
            return out.read_bytes()

    def set_env(self, *entries: str) -> None:
        """Replaces the boot loader environment with ENTRIES ("gdb=on", ...) in this order."""
        self.bootsim("env", "set", *entries)

    def insert_usb(self, files: dict[str, bytes]) -> None:
        """Plugs in a stick holding FILES (name -> contents): usb_delay seconds into each
        power-on the stick is mounted on /mnt/usb and /tmp/usb appears."""
        with tempfile.TemporaryDirectory(dir=self.path) as work:
            for name, data in files.items():
                path = pathlib.Path(work, name)
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_bytes(data)
            self.bootsim("usb", "insert", work)

    def set_conf(self, key: str, value) -> None:
        """Sets a board.conf key (usb_delay, power_cut, fail_write...)."""
        self.bootsim("conf", key, value)

    # --- power-on

    def power_on(self, timeout: float = DEFAULT_TIMEOUT, bootmgr=None) -> Console:
        """Starts a power-on with a console to talk to; end it with Console.wait_end().
        TIMEOUT bounds each expect; bootsim cuts the whole power-on off ten minutes later, so
        a test that dies half-way leaves nothing running. BOOTMGR runs another program in place
        of the boot manager (for the simulator's own tests)."""
        console = Console(self, timeout, bootmgr)
        self._consoles.append(console)
        return console

    def boot(self, timeout: float = DEFAULT_TIMEOUT, bootmgr=None) -> PowerOn:
        """A power-on nobody types into, run to its end."""
        return self.power_on(timeout, bootmgr=bootmgr).wait_end()

    def exec(self, *command) -> subprocess.CompletedProcess:
        """Runs `bootsim exec DIR COMMAND...`: one command on the board, as its application
        runs it. The result carries the exit status (128 + N for signal N) and the output."""
        return subprocess.run([bootsim_path(), "exec", str(self.path), *map(str, command)],
                              capture_output=True, text=True)

    def device_log(self) -> list[str]:
        """The device backend's transaction log (DIR/devices.log), one operation a line."""
        log = self.path / "devices.log"
        return log.read_text().splitlines() if log.exists() else []

    def events(self, index: int = -1) -> Events:
        """Event log lines of a power-on (default: the last one)."""
        log = self.path / "events.log"
        runs = parse_power_ons(log.read_text() if log.exists() else "")
        return runs[index] if runs else Events([])

    def close(self) -> None:
        """Ends any power-on still running (a test that failed half-way)."""
        for console in self._consoles:
            console.close()

    def report(self) -> str:
        """The board's path, the last console transcript and the last power-on's events:
        what a failed test prints."""
        text = f"board {self.path}\n"
        if self._consoles:
            transcript = self._consoles[-1].transcript
            text += "--- console of the last power-on\n" + transcript[-4000:] + "\n"
        text += "--- events of the last power-on\n" + "\n".join(self.events().lines) + "\n"
        return text
