"""End-to-end harness: runs the real launcher.exe under Wine on the test display, drives it
with xdotool, reads its pixels from screenshots, probes its message boxes, and bounds every
process it starts in time, ending each by its own pid."""
import contextlib
import fcntl
import functools
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("TEST_BUILD_DIR", ROOT / "build" / "win-x86_64"))
# The CTest fixture's server; a worker takes its certificates so that every run trusts one CA.
FIXTURE_STATE = Path(os.environ.get("TEST_PATCH_STATE", BUILD / "patch-server"))
PORT = int(os.environ.get("TEST_PATCH_PORT", "48443"))
# A worker of a split run (tests/support/e2e_run.sh) has a loopback of its own, so it serves the
# build's ports itself: its own patch servers, Wine prefix, display and folders, under WORK.
WORKER = os.environ.get("PYTEST_XDIST_WORKER") if os.environ.get("E2E_OWN_NETWORK") == "1" else None
WORK = BUILD / f"e2e-{WORKER}" if WORKER else BUILD
STATE = WORK / "patch-server" if WORKER else FIXTURE_STATE
RUNS = WORK / "e2e-runs"
if WORKER:
    # Set here, before anything starts Wine: scripts/wine-run.sh and the fixture script read it too.
    os.environ["WINEPREFIX"] = str(WORK / "wineprefix")
BASE_PATH = "/Setup/live/StandaloneWindows64"
BASE_URL = f"https://127.0.0.1:{PORT}{BASE_PATH}"
WINE_RUN = ROOT / "scripts" / "wine-run.sh"
TITLE = "QOR Launcher"
INSTALLER_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Brevanta.exe"


def _built_launcher_version():
    """The launcher version the build under test was made with (LAUNCHER_FILE_VERSION)."""
    cache = BUILD / "CMakeCache.txt"
    for line in cache.read_text(encoding="utf-8", errors="replace").splitlines() if cache.exists() else []:
        if line.startswith("LAUNCHER_FILE_VERSION:"):
            return line.partition("=")[2]
    raise RuntimeError(f"no LAUNCHER_FILE_VERSION in {cache}")


LAUNCHER_VERSION = _built_launcher_version()
# A launcher version one above the built one: the patch information then asks for an update.
NEWER_LAUNCHER_VERSION = ".".join(LAUNCHER_VERSION.split(".")[:3] + [str(int(LAUNCHER_VERSION.split(".")[3]) + 1)])
# The sections a test's patch information starts with: no installer or launcher update is due.
INFO_HEAD = f"[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n{LAUNCHER_VERSION}\n[PLAYER]\n"


def wine_env(extra=None):
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", str(ROOT / "build" / "wineprefix"))
    env.setdefault("WINEDEBUG", "-all")
    if extra:
        env.update(extra)
    return env


def run_captured(command, timeout, cwd=None, env=None, check=False):
    """Runs a command to its end and returns the CompletedProcess with its output as bytes.
    The output goes through files, not pipes: the first Wine program on a display also starts
    Wine's desktop process, which inherits the program's standard handles and outlives it, so
    a pipe would stay open (and the caller wait) long after the program ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run([str(c) for c in command], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=timeout, check=False)
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    if check:
        result.check_returncode()
    return result


def run_wine(args, timeout=60, cwd=None, check=False):
    """Runs a Windows program to its end (bounded) and returns the CompletedProcess."""
    env = wine_env({"WINE_RUN_TIMEOUT": str(int(timeout))})
    return run_captured([WINE_RUN, *args], timeout + 15, cwd=cwd, env=env, check=check)


def run_wine_command(args, cwd=None, timeout=60):
    """Runs one of Wine's own programs (reg, cmd) to its end, bounded."""
    return run_captured(["timeout", str(timeout), "wine", *args], timeout + 15, cwd=cwd, env=wine_env())


@contextlib.contextmanager
def wine_drive(letter, target):
    """The test prefix's drive `letter` mapped to the folder target while the block runs. A
    program started in a folder below target sees it on that drive (Wine names a folder by the
    deepest drive holding it), so its disk is the drive's."""
    link = Path(wine_env()["WINEPREFIX"]) / "dosdevices" / f"{letter.lower()}:"
    if link.is_symlink() or link.exists():
        raise RuntimeError(f"{link} is taken")
    link.symlink_to(Path(target).resolve())
    try:
        yield f"{letter.upper()}:"
    finally:
        link.unlink()


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def reg(*args):
    return run_wine_command(["reg", *args])


def installation_key_text(tag):
    """The installation key as `reg export` writes it, one value a line (a value's continued
    lines joined, blanks dropped); "" without the key. tag names the export file of this process."""
    exported = RUNS / f"{tag}-{os.getpid()}.reg"
    exported.unlink(missing_ok=True)
    reg("export", INSTALLER_KEY, windows_path(exported), "/y")
    if not exported.exists():
        return ""
    text = exported.read_bytes().decode("utf-16", "replace").replace("\\\r\n", "").replace(" ", "")
    exported.unlink()
    return text


def set_installed_installer(version):
    if version is None:
        reg("delete", INSTALLER_KEY, "/f")
    else:
        reg("add", INSTALLER_KEY, "/v", "InstallerVersion", "/d", version, "/f")


# ---- the version record: the same cipher the launcher uses -------------------------------

def _aes_tables():
    sbox = [0] * 256
    inv = [0] * 256

    def mul(a, b):
        p = 0
        while b:
            if b & 1:
                p ^= a
            a = ((a << 1) ^ (0x1B if a & 0x80 else 0)) & 0xFF
            b >>= 1
        return p
    for i in range(256):
        x = next((j for j in range(1, 256) if mul(i, j) == 1), 0) if i else 0
        s = x
        for _ in range(4):
            x = ((x << 1) | (x >> 7)) & 0xFF
            s ^= x
        sbox[i] = s ^ 0x63
        inv[sbox[i]] = i
    return sbox, inv, mul


SBOX, INV_SBOX, GMUL = _aes_tables()


def _expand(key):
    w = [list(key[i:i + 4]) for i in range(0, 32, 4)]
    rcon = 1
    for i in range(8, 60):
        t = list(w[i - 1])
        if i % 8 == 0:
            t = [SBOX[t[1]] ^ rcon, SBOX[t[2]], SBOX[t[3]], SBOX[t[0]]]
            rcon = ((rcon << 1) ^ (0x1B if rcon & 0x80 else 0)) & 0xFF
        elif i % 8 == 4:
            t = [SBOX[b] for b in t]
        w.append([a ^ b for a, b in zip(w[i - 8], t)])
    return [sum(w[r * 4:r * 4 + 4], []) for r in range(15)]


def _decrypt_block(rk, block):
    s = [a ^ b for a, b in zip(block, rk[14])]
    for rnd in range(13, -1, -1):
        s = [s[((c - r) % 4) * 4 + r] for c in range(4) for r in range(4)]  # inverse shift rows
        s = [INV_SBOX[b] for b in s]
        s = [a ^ b for a, b in zip(s, rk[rnd])]
        if rnd:
            out = []
            for c in range(4):
                a = s[c * 4:c * 4 + 4]
                out += [GMUL(a[0], 14) ^ GMUL(a[1], 11) ^ GMUL(a[2], 13) ^ GMUL(a[3], 9),
                        GMUL(a[0], 9) ^ GMUL(a[1], 14) ^ GMUL(a[2], 11) ^ GMUL(a[3], 13),
                        GMUL(a[0], 13) ^ GMUL(a[1], 9) ^ GMUL(a[2], 14) ^ GMUL(a[3], 11),
                        GMUL(a[0], 11) ^ GMUL(a[1], 13) ^ GMUL(a[2], 9) ^ GMUL(a[3], 14)]
            s = out
    return bytes(s)


def _encrypt_block(rk, block):
    s = [a ^ b for a, b in zip(block, rk[0])]
    for rnd in range(1, 15):
        s = [SBOX[b] for b in s]
        s = [s[((c + r) % 4) * 4 + r] for c in range(4) for r in range(4)]
        if rnd != 14:
            out = []
            for c in range(4):
                a = s[c * 4:c * 4 + 4]
                out += [GMUL(a[0], 2) ^ GMUL(a[1], 3) ^ a[2] ^ a[3],
                        a[0] ^ GMUL(a[1], 2) ^ GMUL(a[2], 3) ^ a[3],
                        a[0] ^ a[1] ^ GMUL(a[2], 2) ^ GMUL(a[3], 3),
                        GMUL(a[0], 3) ^ a[1] ^ a[2] ^ GMUL(a[3], 2)]
            s = out
        s = [a ^ b for a, b in zip(s, rk[rnd])]
    return bytes(s)


CONFIG_KEY = b"5ka8@tromvi"


def encrypt_record(version):
    plain = f"[Version] {version}\n".encode()
    salt = bytes((i * 37 + 11) & 0xFF for i in range(32 - len(CONFIG_KEY)))
    rk = _expand(CONFIG_KEY + salt)
    pad = (16 - len(plain) % 16) % 16
    plain += b"\0" * pad
    return salt + bytes([pad]) + b"".join(_encrypt_block(rk, plain[i:i + 16]) for i in range(0, len(plain), 16))


def decrypt_record(data):
    s = 32 - len(CONFIG_KEY)
    rk = _expand(CONFIG_KEY + data[:s])
    body = b"".join(_decrypt_block(rk, data[i:i + 16]) for i in range(s + 1, len(data) - 15, 16))
    return body[:len(data) - s - 1 - data[s]].decode("latin-1")


def record_version(folder):
    text = decrypt_record((Path(folder) / "config").read_bytes())
    return int(text.split()[1])


# ---- the patch server of the test run ------------------------------------------------------

class PatchServer:
    """The CTest fixture's server: its served folder, faults and request log."""

    root = STATE / "root"

    def reset(self, patch_info=None):
        if self.root.exists():
            shutil.rmtree(self.root)
        (self.root / "Player").mkdir(parents=True)
        self.set_faults([])
        if patch_info is not None:
            self.put("LauncherPatchInfo.txt", patch_info)

    def put(self, relative, data):
        target = self.root / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data.encode() if isinstance(data, str) else data)
        return target

    def set_faults(self, rules):
        import ssl
        import http.client
        context = ssl.create_default_context(cafile=str(STATE / "certs" / "ca.pem"))
        connection = http.client.HTTPSConnection("127.0.0.1", PORT, context=context, timeout=10)
        body = json.dumps(rules)
        connection.request("POST" if rules else "DELETE", "/__control/faults", body=body,
                           headers={"Content-Type": "application/json"})
        response = connection.getresponse()
        response.read()
        connection.close()
        assert 200 <= response.status < 300, response.status

    def stop_main(self):
        """Ends the main server (the launcher then finds nothing on its port)."""
        pid_file = STATE / "server.pid"
        if pid_file.exists():
            pid = int(pid_file.read_text())
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            deadline = time.time() + 10
            while time.time() < deadline:
                try:
                    os.kill(pid, 0)
                except ProcessLookupError:
                    break
                time.sleep(0.1)
        (STATE / "ready.json").unlink(missing_ok=True)

    def start_main(self):
        """Starts the main server again as the fixture does."""
        out = open(STATE / "server.out", "a")
        process = subprocess.Popen(
            ["/usr/bin/python3", str(ROOT / "tests" / "support" / "patch_server.py"), "--root", str(self.root),
             "--port", str(PORT), "--certs", str(STATE / "certs"), "--log", str(STATE / "requests.log"),
             "--control", "--ready-file", str(STATE / "ready.json")],
            stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, start_new_session=True)
        (STATE / "server.pid").write_text(str(process.pid))
        assert wait_until(lambda: (STATE / "ready.json").exists(), timeout=20), "the patch server did not restart"

    def log_mark(self):
        log = STATE / "requests.log"
        return log.stat().st_size if log.exists() else 0

    def requests_since(self, mark):
        log = STATE / "requests.log"
        with log.open("rb") as f:
            f.seek(mark)
            return [json.loads(line) for line in f.read().decode().splitlines() if line.strip()]


# ---- screenshots ---------------------------------------------------------------------------

def screenshot(path=None):
    from PIL import Image
    target = Path(path) if path else Path("/tmp") / f"launcher-shot-{os.getpid()}.png"
    subprocess.run(["timeout", "20", "import", "-window", "root", str(target)], check=True, capture_output=True)
    image = Image.open(target).convert("RGB")
    image.load()
    return image


@functools.lru_cache(maxsize=64)
def _bmp_bytes(path):
    return Path(path).read_bytes()


def read_bmp_pixel(path, x, y):
    """(r, g, b) of pixel (x, y), top-left origin, of an uncompressed bottom-up BMP."""
    data = _bmp_bytes(str(path))
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bpp = struct.unpack_from("<H", data, 28)[0]
    row = ((width * bpp // 8) + 3) & ~3
    row_index = height - 1 - y if height > 0 else y
    i = offset + row_index * row + x * (bpp // 8)
    b, g, r = data[i], data[i + 1], data[i + 2]
    return (r, g, b)


def skin_pixel(resource, x, y):
    return read_bmp_pixel(BUILD / "skin" / f"{resource}.bmp", x, y)


def region(image, origin, box):
    """The pixels of a box (left, top, right, bottom) in window coordinates."""
    x, y = origin
    left, top, right, bottom = box
    return image.crop((x + left, y + top, x + right, y + bottom))


def region_matches_skin(image, origin, resource, at, size, step=7, tolerance=10):
    """Whether the window shows skin picture `resource` (its top-left part of `size`) at `at`."""
    x, y = origin
    ax, ay = at
    for dx in range(2, size[0] - 2, step):
        for dy in range(2, size[1] - 2, step):
            if not near(image.getpixel((x + ax + dx, y + ay + dy)), skin_pixel(resource, dx, dy), tolerance):
                return False
    return True


# One display state always draws one frame: rendered once per process, a status line that is
# polled for is compared at the pace of screenshots, not of a Wine start each time.
@functools.lru_cache(maxsize=256)
def expected_frame(status, buttons=(3, 0, 0, 0), current=0, total=0):
    """The frame the launcher draws for this display state (status as text, CP949 encoded).
    Shared between callers: crop it, never change it."""
    from PIL import Image
    out = Path("/tmp") / f"expected-frame-{os.getpid()}.rgb"
    data = status.encode("cp949").hex() if status else "-"
    result = run_wine([BUILD / "render_frame.exe", windows_path(out), data, *buttons, current, total], timeout=60)
    assert result.returncode == 0, result.stderr
    pixels = out.read_bytes()
    out.unlink()
    return Image.frombytes("RGB", (649, 489), pixels)


STATUS_BAND = (136, 334, 649, 358)


def status_line_shows(image, origin, status):
    """Whether the window's status line (the band around it) shows exactly this text."""
    expected = expected_frame(status).crop(STATUS_BAND)
    x, y = origin
    actual = image.crop((x + STATUS_BAND[0], y + STATUS_BAND[1], x + STATUS_BAND[2], y + STATUS_BAND[3]))
    a, b = actual.tobytes(), expected.tobytes()
    differing = sum(1 for i in range(0, len(a), 3) if not near(a[i:i + 3], b[i:i + 3], 6))
    return differing == 0


def start_button_look(image, origin):
    """Which picture the start button shows: 'enabled' (208, or its hover 206), 'disabled'
    (209) or None."""
    if region_matches_skin(image, origin, 208, (20, 349), (114, 114)) or \
            region_matches_skin(image, origin, 206, (20, 349), (114, 114)):
        return "enabled"
    if region_matches_skin(image, origin, 209, (20, 349), (114, 114)):
        return "disabled"
    return None


def bar_fill(image, origin, top, resource):
    """How many columns of a bar (at 141, top) show the bar picture rather than the trough."""
    x, y = origin
    filled = 0
    for dx in range(0, 276):
        if near(image.getpixel((x + 141 + dx, y + top + 3)), skin_pixel(resource, dx, 3), 12) and \
                not near(skin_pixel(resource, dx, 3), skin_pixel(204, 141 + dx, top + 3), 12):
            filled = dx + 1
    return filled


def near(a, b, tolerance=8):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


# ---- X input -------------------------------------------------------------------------------

def xdotool(*args, timeout=20):
    return subprocess.run(["timeout", str(timeout), "xdotool", *map(str, args)], capture_output=True, text=True)


def find_windows(name=TITLE):
    out = xdotool("search", "--onlyvisible", "--name", f"^{name}$").stdout.split()
    return [int(w) for w in out]


def try_geometry(window_id):
    result = xdotool("getwindowgeometry", "--shell", window_id)
    values = dict(line.split("=", 1) for line in result.stdout.split() if "=" in line)
    if all(k in values for k in ("X", "Y", "WIDTH", "HEIGHT")):
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])
    return None


def window_geometry(window_id):
    # A window that is being mapped can answer without a geometry for a moment.
    for _ in range(50):
        result = xdotool("getwindowgeometry", "--shell", window_id)
        values = dict(line.split("=", 1) for line in result.stdout.split() if "=" in line)
        if all(k in values for k in ("X", "Y", "WIDTH", "HEIGHT")):
            return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])
        time.sleep(0.1)
    raise AssertionError(f"no geometry for window {window_id}: {result.stdout!r} {result.stderr!r}")


def pointer_location():
    fields = dict(part.split(":", 1) for part in xdotool("getmouselocation").stdout.split() if ":" in part)
    return int(fields.get("x", -1)), int(fields.get("y", -1))


def move_pointer(x, y):
    # Not "mousemove --sync": when the window under the pointer has just gone away, it can miss
    # the motion it waits for and sit out its own 15-second limit. Polling the place is enough.
    xdotool("mousemove", x, y)
    wait_until(lambda: pointer_location() == (x, y), timeout=2, interval=0.02)


def press(x, y):
    move_pointer(x, y)
    time.sleep(0.15)
    xdotool("mousedown", 1)


def release():
    xdotool("mouseup", 1)


def click(x, y):
    press(x, y)
    time.sleep(0.15)
    release()


def system_metrics():
    result = run_wine([BUILD / "print_metrics.exe"], timeout=30)
    return json.loads(result.stdout.decode().strip().splitlines()[-1])


def probe_box(caption, dismiss=True, timeout_ms=15000):
    args = [BUILD / "box_probe.exe", caption.encode().hex(), "--timeout", str(timeout_ms)]
    if dismiss:
        args.append("--dismiss")
    result = run_wine(args, timeout=timeout_ms / 1000 + 20)
    lines = result.stdout.decode("utf-8", "replace").strip().splitlines()
    return json.loads(lines[-1]) if lines else {"found": False}


# ---- one launcher run in a folder of its own ------------------------------------------------

class Launcher:
    def __init__(self, folder, exe="launcher.exe"):
        """exe: the build's launcher.exe, or launcher_keyed.exe (branded with the build's test
        signing key); either runs as launcher.exe in the folder."""
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(BUILD / exe, self.folder / "launcher.exe")
        self.process = None
        self.exit_code = None

    def add_stand_in(self, name):
        shutil.copy2(BUILD / "stand_in.exe", self.folder / name)

    def started_record(self, name):
        path = self.folder / f"{name}.started.txt"
        if not path.exists():
            return None
        values = {}
        for line in path.read_text("latin-1").splitlines():
            key, _, value = line.partition("=")
            values[key] = value
        return values

    def write_config(self, version):
        (self.folder / "config").write_bytes(encrypt_record(version))

    def version(self):
        return record_version(self.folder)

    def start(self, *args, timeout=120, output=None):
        """Starts the launcher; `output`, a path, receives what Wine writes to stdout and stderr
        (without one, a file of this process's that each start overwrites)."""
        self._start = (args, timeout, output)
        self._output = Path(output) if output else RUNS / f"launcher-{os.getpid()}.out"
        env = wine_env({"WINE_RUN_TIMEOUT": str(int(timeout))})
        with open(self._output, "wb") as sink:
            self.process = subprocess.Popen([str(WINE_RUN), "launcher.exe", *args], cwd=self.folder, env=env,
                                            stdout=sink, stderr=subprocess.STDOUT, start_new_session=True)
        self._started = time.time()
        return self

    def _output_tail(self):
        try:
            return self._output.read_bytes()[-600:].decode("utf-8", "replace")
        except OSError:
            return ""

    def _started_again_after_a_false_exit(self):
        """A launcher that meets another's window ends at once with 1; so did, once in a fresh
        worker's prefix under load, a start with no other launcher anywhere, before its window.
        Only that case is started again, once, and said on stderr."""
        if getattr(self, "_restarted", False) or self.process.returncode != 1 or time.time() - self._started > 5:
            return False
        if any(try_geometry(window) for window in find_windows()):
            return False
        print(f"harness: launcher.exe ended with 1 at once, with no launcher window anywhere; started again "
              f"(Wine said: {self._output_tail()!r})", file=sys.stderr)
        self._restarted = True
        args, timeout, output = self._start
        self.start(*args, timeout=timeout, output=output)
        return True

    def wait_window(self, timeout=60):
        deadline = time.time() + timeout
        while time.time() < deadline:
            # A window of an earlier launcher may still be going away: take one that answers
            # with the skin's size.
            for window in find_windows():
                geometry = try_geometry(window)
                if geometry and geometry[2:] == (649, 489):
                    time.sleep(0.5)  # first frame and placement
                    if try_geometry(window):
                        return window
            if self.process.poll() is not None and not self._started_again_after_a_false_exit():
                raise AssertionError(f"launcher exited with {self.process.returncode} before showing its window "
                                     f"(Wine said: {self._output_tail()!r})")
            time.sleep(0.2)
        raise AssertionError("the launcher window did not appear")

    def origin(self):
        x, y, _, _ = window_geometry(self.wait_window())
        return x, y

    def wait(self, timeout=30):
        try:
            self.exit_code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        return self.exit_code

    def running(self):
        return self.process is not None and self.process.poll() is None

    def stop(self):
        if self.process and self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(timeout=10)
        # Leftover windows of a killed launcher must not confuse the next test.
        deadline = time.time() + 10
        while find_windows() and time.time() < deadline:
            time.sleep(0.2)


def wait_until(predicate, timeout=20, interval=0.2):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


# ---- a worker's own display, prefix and patch servers (split runs) ---------------------------

# Bounds what a worker starts should the worker itself be killed (CTest gives the suite 2400 s).
WORKER_LIFETIME = 2400
DISPLAYS = range(90, 121)  # scripts/env.sh's numbers
SERVER_FIXTURE = ROOT / "tests" / "support" / "server_fixture.sh"


def _lock_holder(lock):
    """The pid an X lock file names, or None while it is being written."""
    try:
        return int(Path(lock).read_text().strip())
    except (OSError, ValueError):
        return None


def _parent_of(pid):
    try:
        return int(Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[1])
    except (OSError, ValueError, IndexError, TypeError):
        return None


def _end(process, wait=10):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=wait)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=wait)


class WorkerEnvironment:
    """What a worker sets up before its first test, as scripts/test.sh and the CTest fixture do for
    a whole run: a display of its own, its Wine prefix, and the patch servers with the test CA
    trusted in that prefix."""

    def __init__(self):
        self.xvfb = None

    def start(self):
        WORK.mkdir(parents=True, exist_ok=True)
        self._start_display()
        self._prepare_prefix()
        self._start_servers()

    def stop(self):
        run_captured(["timeout", "-k", "5", "40", SERVER_FIXTURE, "stop", STATE], 60)
        run_captured(["timeout", "-k", "5", "20", "wineserver", "-k"], 40, env=wine_env())
        if self.xvfb:
            _end(self.xvfb)

    def _start_display(self):
        # Workers pick their numbers one at a time; Xvfb's own lock keeps other runs' displays apart.
        with open("/tmp/.e2e-worker-displays.lock", "a") as guard:
            fcntl.flock(guard, fcntl.LOCK_EX)
            for n in DISPLAYS:
                lock = Path(f"/tmp/.X{n}-lock")
                if lock.exists():
                    holder = _lock_holder(lock)
                    if holder is None or Path(f"/proc/{holder}").exists():
                        continue
                    # Left by a killed run: its lock would close this number for good.
                    lock.unlink(missing_ok=True)
                    Path(f"/tmp/.X11-unix/X{n}").unlink(missing_ok=True)
                xvfb = subprocess.Popen(
                    ["timeout", "-k", "5", str(WORKER_LIFETIME), "Xvfb", f":{n}", "-screen", "0", "1920x1080x24",
                     "-nolisten", "tcp"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL, start_new_session=True)
                env = dict(os.environ, DISPLAY=f":{n}")
                ours = wait_until(lambda: xvfb.poll() is not None or (
                    _parent_of(_lock_holder(lock)) == xvfb.pid and subprocess.run(
                        ["timeout", "5", "xdotool", "getdisplaygeometry"], env=env, stdin=subprocess.DEVNULL,
                        capture_output=True).returncode == 0), timeout=15, interval=0.1)
                if ours and xvfb.poll() is None:
                    self.xvfb = xvfb
                    os.environ["DISPLAY"] = f":{n}"
                    return
                _end(xvfb)
        raise RuntimeError(f"no display of {DISPLAYS} could be started")

    def _prepare_prefix(self):
        # As scripts/env.sh's prepare_prefix: made once, then one wineserver for the whole run.
        if not (Path(os.environ["WINEPREFIX"]) / "system.reg").exists():
            run_captured(["timeout", "-k", "5", "180", "wineboot", "-i"], 200, env=wine_env())
        run_captured(["timeout", "-k", "5", "10", "wineserver", "-p"], 30, env=wine_env())

    def _start_servers(self):
        # The fixture's certificates, when it made them, spare the worker making its own set.
        if (FIXTURE_STATE / "certs" / "ca.der").exists() and not (STATE / "certs").exists():
            shutil.copytree(FIXTURE_STATE / "certs", STATE / "certs")
        result = run_captured(["timeout", "-k", "5", "150", SERVER_FIXTURE, "start", STATE, PORT, WORKER_LIFETIME],
                              170, env=wine_env())
        # The exit code tells a bound that ran out (124) from a step that failed.
        assert result.returncode == 0, (f"server fixture exit {result.returncode}: "
                                        + result.stderr.decode("utf-8", "replace"))
