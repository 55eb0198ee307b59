"""How the unpacked application is started: the launch modes with the exact command each
runs (a diagnostics image's under memchk), the shell, the install script with env-setup, and
the incompatible-image question."""

import pytest

import harness

DUMA = "libduma.so.0.0.0"


def boot_with(board, *env, files=None, type="application"):
    board.write_slot(1, harness.application_image(files, type=type))
    if env:
        board.set_env(*env)
    return board.boot(timeout=30)


DIAGS = {"mpdiag.elf.strip": (harness.logging_script("diag"), 0o755), "home/bin/distro-id": "x\n"}

# Options, the program the board ran (with its arguments), the LD_PRELOAD it saw, and
# whether the run ends in the application starter or in a reboot after the command.
LAUNCH_ROWS = [
    pytest.param(["gdbserver=on", "memchk=on"], "gdbserver", ":1234 " + harness.APP, DUMA, "reboot",
                 id="gdbserver with memchk"),
    pytest.param(["gdbserver=on", "gdbport=2345"], "gdbserver", ":2345 " + harness.APP, None, "reboot",
                 id="gdbserver on its port"),
    pytest.param(["gdb=on", "memchk=on"], "backtrace", "", None, "application",
                 id="gdb without a debugger in the other slot"),
    pytest.param(["memchk=on"], "app", "", DUMA, "reboot", id="memchk"),
    pytest.param(["memchk=on"], "diag", "", DUMA, "reboot", id="diagnostics image under memchk"),
    pytest.param([], "backtrace", "", None, "application", id="normal"),
]


@pytest.mark.parametrize("env, program, args, preload, ending", LAUNCH_ROWS)
def test_launch_mode_runs_its_command(board, env, program, args, preload, ending):
    if program == "diag":
        run = boot_with(board, *env, files=DIAGS, type="diags")
    else:
        run = boot_with(board, *env)
    assert run.events.power_off == ending, run.output
    assert run.events.calls(program) == [args]
    assert run.events.env(program).get("LD_PRELOAD") == preload
    if program != "backtrace":
        assert run.events.calls("backtrace") == []
        assert run.events.calls("reboot") == [""]
    assert (harness.GDB_MISSING in run.output) == ("gdb=on" in env)
    assert ("Extracting GDB" in run.output) == ("gdb=on" in env)


def test_shell_opens_before_the_application_starts(board):
    board.write_slot(1, harness.application_image())
    board.set_env("shell=on")
    console = board.power_on(timeout=30)
    console.expect_exact("Dropping into shell")
    console.sendline("echo shell-$((6*7))")
    console.expect_exact("shell-42")
    console.sendline("exit")
    console.expect_exact("Dropping out of shell")
    run = console.wait_end()
    assert run.application_started
    assert run.events.calls("backtrace") == [""]


# With an install script the env-setup pairs reach the application (their parsing is decided
# in the launch unit test); without one, env-setup is ignored.
@pytest.mark.parametrize("install_script", [True, False])
def test_env_setup_reaches_the_application_only_with_an_install_script(board, install_script):
    files = dict(harness.DEFAULT_APP_FILES, **{"home/bin/env-setup": "BM_ALPHA one\nBM_BETA   two\n"})
    if install_script:
        files["home/bin/install.sh"] = (harness.logging_script("install"), 0o755)
    run = boot_with(board, files=files)
    assert run.application_started
    assert ("Running install script" in run.output) == install_script
    assert run.events.calls("install") == ([""] if install_script else [])
    env = run.events.env("backtrace")
    assert (env.get("BM_ALPHA"), env.get("BM_BETA")) == (("one", "two") if install_script else (None, None))


QUESTION = "Would you like to enter recovery mode to download a new image? y/N: "


@pytest.mark.parametrize("key, rescue", [("y", True), ("Y", True), ("n", False), ("\r", False)])
def test_incompatible_image_asks_for_recovery_with_a_single_key(board, key, rescue):
    files = {"home/bin/mp.elf.strip": (harness.logging_script("app"), 0o755)}
    board.write_slot(1, harness.application_image(files))
    console = board.power_on(timeout=30)
    console.expect_exact("WARNING: Suspected incompatible application image detected during unpacking")
    console.expect_exact(QUESTION)
    # Typed once the key read waits, without Enter; the terminal must not echo it, so the
    # next thing on the console is the rescue menu or the end of the power-on.
    console.wait_key_read()
    console.send(key)
    if rescue:
        console.expect_exact("Option? : ")
        assert console.child.before.startswith("Entering Rescue Mode.")
        console.send("e")
    run = console.wait_end()
    assert run.application_started
    if not rescue:
        assert run.output.lstrip("\r\n").startswith("bootsim: application started")
