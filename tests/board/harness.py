"""Board-test harness: simulated boards driven through bootsim (paths in BOOTSIM and
IMGTOOL), the images they boot, and the event log DIR/events.log that the board's stand-in
programs write: "bootsim.power-on N", then "PROGRAM ARGS...", "PROGRAM.cwd DIR",
"PROGRAM.env NAME=VALUE", "backtrace.tree KIND MODE SIZE MD5 PATH", "bootsim.usb-ready
/tmp/usb" and "bootsim.power-off REASON" lines."""

from __future__ import annotations

import collections
import dataclasses
import hashlib
import io
import os
import pathlib
import select
import shutil
import subprocess
import tarfile
import tempfile
import termios
import time

import pexpect

# Exit statuses of `bootsim run`.
APPLICATION = 0
REBOOT = 3
EXITED = 4
KILLED = 5

# Bytes of the board parameter store.
BOOT_SLOT = 0x100
BOOTED_IMAGE = 0x13A
USB_STATUS = 0x13B
USB_PRESENT = 213

# The application executable as the starter runs it, and what a gdb boot without gdb prints.
APP = "/tmp/home/bin/mp.elf.strip"
GDB_MISSING = "**** GDB mode selected but GDB not available. Please install GDB image ***"
# The rescue menu's prompt and full menu, and the installer's slot question.
PROMPT = "Option? : "
MENU = "Please select one of the following options:"
SLOT_QUESTION = "Install image as image 1 or 2 (hit return to just boot image): "
DEMO_KEY = pathlib.Path(__file__).resolve().parents[2] / "keys/demo/demo-signing-key.NOT-FOR-PRODUCTION.pem"

# Seconds of expect time-out for a power-on.
DEFAULT_TIMEOUT = 120

# Seconds the XMODEM sender waits before it answers the board's receiver.
XMODEM_TURNAROUND = 0.03
XMODEM_ACK = b"\x06"
XMODEM_CANCEL = b"\x18" * 8  # Ctrl-X, as an operator cancels a receiver


def _tool(variable: str) -> str:
    path = os.environ.get(variable, "")
    if not path or not os.access(path, os.X_OK):
        raise RuntimeError(f"{variable} must name the built program (got {path!r})")
    return path


def bootsim_path() -> str:
    return _tool("BOOTSIM")


def imgtool_path() -> str:
    return _tool("IMGTOOL")


def _run(args, **kwargs) -> subprocess.CompletedProcess:
    result = subprocess.run(args, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, args))} failed ({result.returncode}): "
                           f"{result.stderr.strip()}")
    return result


# ---------------------------------------------------------------------------------------
# Images


def logging_script(name: str) -> str:
    """A /bin/sh program for the board that logs its calls under NAME like the stand-ins."""
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
    """A .tar.gz of FILES: path -> contents or (contents, mode), with directory entries."""
    buffer = io.BytesIO()
    directories = sorted({"/".join(parts[:i]) for parts in (path.split("/") for path in files)
                          for i in range(1, len(parts))})
    with tarfile.open(fileobj=buffer, mode="w:gz", format=tarfile.USTAR_FORMAT) as archive:
        for path in directories + list(files):
            info = tarfile.TarInfo(path)
            info.mtime = 1_000_000_000
            if path not in files:
                info.type, info.mode = tarfile.DIRTYPE, 0o755
                archive.addfile(info)
                continue
            data, info.mode = files[path] if isinstance(files[path], tuple) else (files[path], 0o644)
            data = data.encode() if isinstance(data, str) else data
            info.size = len(data)
            archive.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def _imgtool(args: list[str], inputs: dict[str, bytes]) -> bytes:
    """Runs imgtool ARGS in a scratch folder holding INPUTS; returns the file "out" it made."""
    with tempfile.TemporaryDirectory() as work:
        for name, data in inputs.items():
            pathlib.Path(work, name).write_bytes(data)
        _run([imgtool_path(), *args], cwd=work)
        return pathlib.Path(work, "out").read_bytes()


def component(payload: bytes, type: str = "application", version: str = "1.0.0.0",
              format: int = 1, header_size: int | None = None,
              records: dict[int, bytes] | None = None, sign=None) -> bytes:
    """One component made by imgtool create; SIGN names the RSA key file that signs it."""
    args = ["create", "--type", type, "--version", version, "--format", str(format), "-o", "out"]
    if header_size is not None:
        args += ["--header-size", str(header_size)]
    if sign is not None:
        args += ["--sign", str(sign)]
    inputs = {"payload": payload}
    for number, value in (records or {}).items():
        inputs[f"record{number}"] = value
        args += ["--record", f"{number}=record{number}"]
    return _imgtool(args + ["payload"], inputs)


def package(*components: bytes) -> bytes:
    """A package of whole components laid end to end, made by imgtool pack."""
    names = [f"c{i}" for i in range(len(components))]
    return _imgtool(["pack", "-o", "out", *names], dict(zip(names, components)))


def application_image(files: dict | None = None, version: str = "1.0.0.0", format: int = 1,
                      type: str = "application", **kwargs) -> bytes:
    """A component whose payload is a tarball of FILES (default: DEFAULT_APP_FILES)."""
    return component(tarball(DEFAULT_APP_FILES if files is None else files), type=type,
                     version=version, format=format, **kwargs)


def tagged_image(tag: str, **kwargs) -> bytes:
    """An application image carrying home/bin/tag = TAG (see started_tag)."""
    return application_image(dict(DEFAULT_APP_FILES, **{"home/bin/tag": tag}), **kwargs)


TAGS = ("old", "new", "new1", "new2", "slot1", "slot2", "usb", "recovery", "downloaded",
        "first", "second")


def started_tag(run: PowerOn, tags=TAGS) -> str | None:
    """Which of TAGS the started application's home/bin/tag holds, or None."""
    entry = run.events.tree().get("/tmp/home/bin/tag")
    md5 = entry.md5 if entry else None
    return next((tag for tag in tags if hashlib.md5(tag.encode()).hexdigest() == md5), None)


def corrupt(image: bytes) -> bytes:
    """The image with its last payload byte changed: its CRC no longer matches."""
    return image[:-1] + bytes([image[-1] ^ 0x01])


# ---------------------------------------------------------------------------------------
# Event log


# One entry of the tree under /tmp/home/bin: file, dir or link; mode as stat prints it
# ("755", "-" for links); size and MD5 ("-" where there is none).
TreeEntry = collections.namedtuple("TreeEntry", "kind mode size md5")


class Events:
    """The event log lines of one power-on."""

    def __init__(self, lines: list[str]):
        self.lines = lines

    def __contains__(self, line: str) -> bool:
        return line in self.lines

    def calls(self, program: str) -> list[str]:
        """The argument text of every call of PROGRAM, in order ("" for no arguments)."""
        split = (line.partition(" ") for line in self.lines)
        return [rest for word, _, rest in split if word == program]

    def env(self, program: str) -> dict[str, str]:
        """Environment that PROGRAM was started with (its last call)."""
        return dict(entry.partition("=")[::2] for entry in self.calls(f"{program}.env"))

    def tree(self) -> dict[str, TreeEntry]:
        """The tree under /tmp/home/bin as the application starter saw it, by path."""
        entries = (entry.split(" ", 4) for entry in self.calls("backtrace.tree"))
        return {path: TreeEntry(*fields) for *fields, path in entries}

    @property
    def power_off(self) -> str | None:
        values = self.calls("bootsim.power-off")
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
    """Exit status, console text since the last expect, events, whole transcript."""
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
    """The board's serial console during one power-on (a pexpect child of `bootsim run`)."""

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

    def __getattr__(self, name):
        """expect, expect_exact, send, sendline: those of the pexpect child."""
        return getattr(self.child, name)

    @property
    def transcript(self):
        return self._log.getvalue()

    def interrupt(self) -> None:
        """Ctrl-C on the console: SIGINT to the boot manager."""
        self.child.sendintr()

    def wait_key_read(self, timeout: float = 10) -> None:
        """Waits until the terminal leaves line mode: a single-key read has begun."""
        deadline = time.monotonic() + timeout
        while termios.tcgetattr(self.child.child_fd)[3] & termios.ICANON:
            assert time.monotonic() < deadline, "the console never switched to single-key mode"
            time.sleep(0.01)

    def send_xmodem(self, path, until: bytes, blocks: int | None = None, timeout: float = 120):
        """Sends PATH with lrzsz's sx -k until sx exits or the board writes UNTIL (left for
        the next expect; the receiver's last ACK can be lost over a pseudo-terminal). With
        BLOCKS, the operator cuts the transfer with Ctrl-X once that many are acknowledged."""
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
                    if until in seen:
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
        left = ((seen[found:] if found >= 0 else b"") + pending).decode(errors="replace")
        self._log.write(fresh.decode(errors="replace"))
        # pexpect searches its unmatched text (_before) as fresh data; both must hold it.
        child.buffer = left
        child._before = child.buffer_type()
        child._before.write(left)

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
    """A board directory made by `bootsim new`: root file system DIR/root, USB stick DIR/usb."""

    def __init__(self, path: pathlib.Path):
        self.path = pathlib.Path(path)
        self._consoles: list[Console] = []
        self.bootsim("new")

    def bootsim(self, command: str, *args) -> str:
        return _run([bootsim_path(), command, str(self.path), *map(str, args)]).stdout

    def user_path(self, relative: str) -> pathlib.Path:
        """A path under the board's persistent /user."""
        return self.path / "root/user" / relative.lstrip("/")

    def write_slot(self, slot: int, data: bytes) -> None:
        path = self.user_path(f"images/image{slot}")
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)

    def read_slot(self, slot: int) -> bytes | None:
        path = self.user_path(f"images/image{slot}")
        return path.read_bytes() if path.exists() else None

    def eeprom_get(self, offset: int) -> int:
        return int(self.bootsim("eeprom", "get", hex(offset)))

    def eeprom_set(self, offset: int, value: int) -> None:
        self.bootsim("eeprom", "set", hex(offset), value)

    boot_slot = property(lambda self: self.eeprom_get(BOOT_SLOT),
                         lambda self, value: self.eeprom_set(BOOT_SLOT, value))
    booted_image = property(lambda self: self.eeprom_get(BOOTED_IMAGE),
                            lambda self, value: self.eeprom_set(BOOTED_IMAGE, value))

    def flash_write(self, partition: str, data: bytes) -> None:
        with tempfile.NamedTemporaryFile(dir=self.path) as source:
            source.write(data)
            source.flush()
            self.bootsim("flash", partition, "write", source.name)

    def flash_read(self, partition: str) -> bytes:
        with tempfile.TemporaryDirectory(dir=self.path) as work:
            out = pathlib.Path(work, "partition")
            self.bootsim("flash", partition, "read", out)
            return out.read_bytes()

    def set_env(self, *entries: str) -> None:
        self.bootsim("env", "set", *entries)

    def insert_usb(self, files: dict[str, bytes], delay: float = 0) -> None:
        """Plugs in a stick holding FILES, ready DELAY seconds into each power-on (-1: never)."""
        with tempfile.TemporaryDirectory(dir=self.path) as work:
            for name, data in files.items():
                path = pathlib.Path(work, name)
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_bytes(data)
            self.bootsim("usb", "insert", work)
        self.eeprom_set(USB_STATUS, USB_PRESENT)
        self.set_conf("usb_delay", delay)

    def wait_usb_ready(self, timeout: float = 10) -> None:
        deadline = time.monotonic() + timeout
        while "bootsim.usb-ready /tmp/usb" not in self.events():
            assert time.monotonic() < deadline, "the stick never got mounted"
            time.sleep(0.05)

    def set_conf(self, key: str, value) -> None:
        self.bootsim("conf", key, value)

    def add_partition(self, line: str) -> None:
        """Appends an "mtd NAME SIZE ERASESIZE" line to board.conf."""
        with open(self.path / "board.conf", "a") as conf:
            conf.write(f"mtd {line}\n")

    def power_on(self, timeout: float = DEFAULT_TIMEOUT, bootmgr=None) -> Console:
        """Starts a power-on (end it with Console.wait_end()); TIMEOUT bounds each expect.
        BOOTMGR runs another program in place of the boot manager."""
        console = Console(self, timeout, bootmgr)
        self._consoles.append(console)
        return console

    def boot(self, timeout: float = DEFAULT_TIMEOUT, bootmgr=None) -> PowerOn:
        return self.power_on(timeout, bootmgr=bootmgr).wait_end()

    def rescue_menu(self, timeout: float = 60) -> Console:
        """A power-on with diagnostics=rescue, at the rescue menu's prompt."""
        self.set_env("diagnostics=rescue")
        console = self.power_on(timeout)
        console.expect_exact(PROMPT)
        return console

    def power_on_redirected(self, redirections: str, timeout: float = 30) -> Console:
        """A power-on of the boot manager run with shell REDIRECTIONS ("2>/board/stderr.log");
        stderr() reads that file."""
        shutil.copy(pathlib.Path(bootsim_path()).parent / "bootmgr-sim", self.path)
        wrapper = self.path.with_name(self.path.name + "-bootmgr")
        wrapper.write_text(f"#!/bin/sh\nexec /board/bootmgr-sim {redirections}\n")
        wrapper.chmod(0o755)
        return self.power_on(timeout, bootmgr=wrapper)

    def stderr(self) -> str:
        return (self.path / "stderr.log").read_text()

    def exec(self, *command) -> subprocess.CompletedProcess:
        """One command on the board, as its application runs it (status 128 + N: signal N)."""
        return subprocess.run([bootsim_path(), "exec", str(self.path), *map(str, command)],
                              capture_output=True, text=True)

    def events(self, index: int = -1) -> Events:
        log = self.path / "events.log"
        runs = parse_power_ons(log.read_text() if log.exists() else "")
        return runs[index] if runs else Events([])

    def close(self) -> None:
        for console in self._consoles:
            console.close()

    def report(self) -> str:
        text = f"board {self.path}\n"
        if self._consoles:
            transcript = self._consoles[-1].transcript
            text += "--- console of the last power-on\n" + transcript[-4000:] + "\n"
        text += "--- events of the last power-on\n" + "\n".join(self.events().lines) + "\n"
        return text
