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
        raise TestEnvError(
            f"{path} is missing: start the test environment first "
            f"(scripts/lib/testenv start {testenv_dir()})")
    values = {}
    with open(path, encoding="utf-8") as env_file:
        for line in env_file:
            match = _EXPORT.match(line.strip())
            if match:
                value = match.group(2)
                if len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'":
                    value = value[1:-1]
                values[match.group(1)] = value
    for name in ("DISPLAY", "WINEPREFIX"):
        if name not in values:
            raise TestEnvError(f"{path} does not set {name}")
    return values


def wine_env(extra=None):
    """The environment for a Wine process of the tests: ours, the test environment's, `extra`."""
    env = dict(os.environ)
    env.update(load_testenv())
    env.update(extra or {})
    return env


def run_checked(args, timeout, env=None, input_bytes=None):
    """Runs a Linux command with a time limit and returns its stdout bytes; raises on failure."""
    result = subprocess.run(args, input=input_bytes, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=timeout, env=env, check=False)
    if result.returncode != 0:
        raise RuntimeError(f"{args[0]} failed ({result.returncode}): "
                           f"{result.stderr.decode(errors='replace').strip()}")
    return result.stdout


def to_windows_path(unix_path):
    """The Windows form of a Linux path inside the prefix (winepath -w), e.g. Z:\\tmp\\x."""
    out = run_checked(["winepath", "-w", unix_path], timeout=60, env=wine_env())
    return out.decode("utf-8").strip()


def prefix_user_dir():
    """The prefix's folder of the current user: drive_c/users/<unix user name>."""
    user = pwd.getpwuid(os.getuid()).pw_name
    return os.path.join(load_testenv()["WINEPREFIX"], "drive_c", "users", user)


def settings_path():
    """Where the program keeps its settings: %APPDATA%\\NimbraVIZ\\settings.ini in the prefix."""
    return os.path.join(prefix_user_dir(), "AppData", "Roaming", "NimbraVIZ", "settings.ini")


def reset_settings():
    """Removes the program's settings folder, as on a machine where it never ran. The prefix is
    shared by all tests of one run, so a test that needs a first run calls this first."""
    shutil.rmtree(os.path.dirname(settings_path()), ignore_errors=True)


def decode_ini_bytes(data):
    """Text of an ini file: UTF-16LE with a BOM, UTF-8 (with or without BOM), else Windows-1252."""
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("cp1252", errors="replace")


def read_last_path():
    """LastPath from section Settings, or None when the file, section or key is missing."""
    return read_setting("lastpath")


def read_setting(key):
    """The value of `key` in section Settings (names compare without case, as the profile
    functions read them), or None when the file, section or key is missing."""
    if not os.path.exists(settings_path()):
        return None
    key_wanted = key.lower()
    section = None
    with open(settings_path(), "rb") as ini:
        for line in decode_ini_bytes(ini.read()).splitlines():
            line = line.strip()
            if line.startswith("[") and "]" in line:
                section = line[1:line.index("]")].strip().lower()
            elif section == "settings" and "=" in line:
                key, value = line.split("=", 1)
                if key.strip().lower() == key_wanted:
                    return value.strip()
    return None


def read_key_values(unix_path):
    """A key=value file (such as the simulated runtime's counts) as a dict of strings."""
    values = {}
    with open(unix_path, "rb") as counts:
        for line in decode_ini_bytes(counts.read()).splitlines():
            if "=" in line:
                key, value = line.split("=", 1)
                values[key.strip()] = value.strip()
    return values
