"""The test environment: where the programs are, the Wine prefix and its display, paths."""

import os
import pwd
import re
import shutil
import subprocess


class TestEnvError(RuntimeError):
    """The test environment is missing or incomplete."""


def _required(name):
    value = os.environ.get(name)
    if not value:
        raise TestEnvError(
            f"{name} is not set: run the tests through ctest, or set NVR_TESTENV (a folder made "
            f"by scripts/lib/testenv start), NVR_BIN (the build's bin folder) and NVR_SOURCE")
    return value


def testenv_dir():
    return _required("NVR_TESTENV")


def bin_dir():
    return _required("NVR_BIN")


_EXPORT = re.compile(r'^export\s+([A-Za-z_][A-Za-z0-9_]*)=(.*)$')


def load_testenv():
    """The variables of $NVR_TESTENV/env.sh (DISPLAY, WINEPREFIX, WINEDEBUG, ...) as a dict."""
    path = os.path.join(testenv_dir(), "env.sh")
    if not os.path.isfile(path):
        raise TestEnvError(f"{path} is missing: start the test environment first "
                           f"(scripts/lib/testenv start {testenv_dir()})")
    with open(path, encoding="utf-8") as env_file:
        return {match.group(1): match.group(2).strip("\"'")
                for match in map(_EXPORT.match, env_file) if match}


def wine_env(extra=None):
    """The environment for a Wine process of the tests: ours, the test environment's, `extra`."""
    return {**os.environ, **load_testenv(), **(extra or {})}


def run_checked(args, timeout, env=None, input_bytes=None):
    """Runs a Linux command with a time limit and returns its stdout bytes; raises on failure."""
    result = subprocess.run(args, input=input_bytes, capture_output=True, timeout=timeout,
                            env=env, check=False)
    if result.returncode != 0:
        raise RuntimeError(f"{args[0]} failed ({result.returncode}): "
                           f"{result.stderr.decode(errors='replace').strip()}")
    return result.stdout


def to_windows_path(unix_path):
    """The Windows form of a Linux path inside the prefix (winepath -w), e.g. Z:\\tmp\\x."""
    return run_checked(["winepath", "-w", unix_path], 60, wine_env()).decode("utf-8").strip()


def settings_path():
    """Where the program keeps its settings: %APPDATA%\\NimbraVIZ\\settings.ini in the prefix."""
    user = pwd.getpwuid(os.getuid()).pw_name
    return os.path.join(load_testenv()["WINEPREFIX"], "drive_c", "users", user, "AppData",
                        "Roaming", "NimbraVIZ", "settings.ini")


def reset_settings():
    """Removes the program's settings folder, as on a machine where it never ran. The prefix is
    shared by all tests of one run, so a test that needs a first run calls this first."""
    shutil.rmtree(os.path.dirname(settings_path()), ignore_errors=True)


def read_text(path):
    """Text of an ini or counts file: UTF-16LE with a BOM, else UTF-8."""
    with open(path, "rb") as file:
        data = file.read()
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    return data.decode("utf-8", errors="replace")


def read_setting(key):
    """The value of `key` in section Settings (names compare without case, as the profile
    functions read them), or None when the file, section or key is missing."""
    if not os.path.exists(settings_path()):
        return None
    section = None
    for line in read_text(settings_path()).splitlines():
        line = line.strip()
        if line.startswith("[") and "]" in line:
            section = line[1:line.index("]")].strip().lower()
        elif section == "settings" and line.partition("=")[0].strip().lower() == key.lower():
            return line.partition("=")[2].strip()
    return None


def read_last_path():
    """LastPath from section Settings, or None when the file, section or key is missing."""
    return read_setting("LastPath")


def read_key_values(unix_path):
    """A key=value file (such as the simulated runtime's counts) as a dict of strings."""
    pairs = (line.partition("=") for line in read_text(unix_path).splitlines())
    return {key.strip(): value.strip() for key, equals, value in pairs if equals}
