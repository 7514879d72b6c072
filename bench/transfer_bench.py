#!/usr/bin/python3
"""Download and unpacking figures on 256 MiB over HTTPS on 127.0.0.1, served by nginx (not the
bottleneck), the cost of putting every file on disk before it takes its place (one large file,
an archive of a few large entries, one of 2000 small ones), and the launcher's peak memory
while patching a 16 MiB and a 256 MiB file. Prints figures only."""
import os
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import harness  # noqa: E402

BENCH = ROOT / "build" / "bench"
FILES = BENCH / "files"
WORK = BENCH / "work"
PORT = harness.PORT
MIB = 1024 * 1024
PACED_RATE = "25m"  # nginx: bytes per second; a 200 Mbit/s line


def make_payload():
    (FILES / "Player").mkdir(parents=True, exist_ok=True)
    big = FILES / "Player" / "big.bin"
    if not big.exists() or big.stat().st_size != 256 * MIB:
        with big.open("wb") as f:
            for _ in range(256):
                f.write(os.urandom(MIB))
    small = FILES / "Player" / "small.bin"
    if not small.exists():
        small.write_bytes(os.urandom(16 * MIB))
    archive = FILES / "Player" / "big.zip"
    if not archive.exists():
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
            for i in range(8):
                chunk = os.urandom(16 * MIB) + bytes(range(256)) * (16 * MIB // 256)
                z.writestr(f"data/part{i}.bin", chunk)
    many = FILES / "Player" / "many.zip"
    if not many.exists():
        with zipfile.ZipFile(many, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
            for i in range(2000):
                z.writestr(f"data/small{i:04}.bin", os.urandom(2048) + bytes(2048))
    return big, small, archive, many


def start_nginx():
    certs = BENCH / "certs"
    subprocess.run(["/usr/bin/python3", str(ROOT / "tests/support/patch_server.py"), "make-certs", str(certs)],
                   check=True, capture_output=True, timeout=120)
    harness.run_wine([harness.BUILD / "import_root_ca.exe", harness.windows_path(certs / "ca.der")], timeout=60)
    conf = BENCH / "nginx.conf"
    conf.write_text(f"""
daemon off; worker_processes 1; pid {BENCH}/nginx.pid; error_log {BENCH}/nginx-error.log;
events {{ worker_connections 64; }}
http {{
  access_log off; sendfile on; tcp_nopush on;
  client_body_temp_path {BENCH}/tmp; proxy_temp_path {BENCH}/tmp; fastcgi_temp_path {BENCH}/tmp;
  uwsgi_temp_path {BENCH}/tmp; scgi_temp_path {BENCH}/tmp;
  server {{
    listen 127.0.0.1:{PORT} ssl;
    ssl_certificate {certs}/server-good.pem; ssl_certificate_key {certs}/server-good.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    location {harness.BASE_PATH}/ {{ alias {FILES}/; }}
    # The same files at the pace of a fast player's line, for the cost of verification.
    location {harness.BASE_PATH}/Player/paced/ {{ alias {FILES}/Player/; limit_rate {PACED_RATE}; }}
  }}
}}
""")
    (BENCH / "tmp").mkdir(exist_ok=True)
    process = subprocess.Popen(["timeout", "1800", "nginx", "-c", str(conf), "-p", str(BENCH)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    time.sleep(1.0)
    return process, certs


def curl_speed(certs):
    result = subprocess.run(["timeout", "300", "curl", "-s", "--cacert", str(certs / "ca.pem"), "-o", "/dev/null",
                             "-w", "%{speed_download}", f"https://127.0.0.1:{PORT}{harness.BASE_PATH}/Player/big.bin"],
                            capture_output=True, text=True)
    return float(result.stdout or 0) / MIB


def unzip_speed(archive):
    target = BENCH / "unzip-out"
    shutil.rmtree(target, ignore_errors=True)
    target.mkdir()
    start = time.time()
    subprocess.run(["timeout", "600", "unzip", "-o", "-q", str(archive), "-d", str(target)], check=True)
    seconds = time.time() - start
    size = sum(p.stat().st_size for p in target.rglob("*") if p.is_file())
    shutil.rmtree(target)
    return size / MIB / seconds, seconds


def launcher_pids():
    out = subprocess.run(["pgrep", "-f", "launcher.exe"], capture_output=True, text=True).stdout.split()
    return [int(p) for p in out]


def peak_memory(name, size_label):
    folder = WORK / f"memory-{size_label}"
    shutil.rmtree(folder, ignore_errors=True)
    (FILES / "LauncherPatchInfo.txt").write_text(
        f"[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n{harness.LAUNCHER_VERSION}\n[PLAYER]\n10003 {name}\n")
    run = harness.Launcher(folder)
    run.write_config(10002)
    run.start(timeout=600)
    peak = 0
    deadline = time.time() + 600
    while time.time() < deadline:
        for pid in launcher_pids():
            try:
                for line in Path(f"/proc/{pid}/status").read_text().splitlines():
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
            except OSError:
                pass
        try:
            if run.version() == 10003:
                break
        except (OSError, ValueError, IndexError):
            pass
        time.sleep(0.2)
    run.stop()
    return peak / 1024.0


def main():
    WORK.mkdir(parents=True, exist_ok=True)
    big, small, archive, many = make_payload()
    nginx, certs = start_nginx()
    try:
        print(f"curl over HTTPS (context):  {curl_speed(certs):8.1f} MB/s")
        print(f"paced files: {PACED_RATE}B/s per connection")
        result = harness.run_wine([harness.BUILD / "transfer_win32_bench.exe", "big.bin", "big.zip", "many.zip",
                                   "--paced", "paced/big.bin"], timeout=2400, cwd=WORK)
        print(result.stdout.decode(errors="replace"), end="")
        speed, seconds = unzip_speed(archive)
        print(f"Info-ZIP unzip -o (native): {speed:8.1f} MB/s ({seconds:.2f} s)")
        for name, label in ((small.name, "16MiB"), (big.name, "256MiB")):
            print(f"launcher peak memory patching {label:>6}: {peak_memory(name, label):7.1f} MiB (VmHWM)")
    finally:
        nginx.terminate()
        try:
            nginx.wait(10)
        except subprocess.TimeoutExpired:
            nginx.kill()
        shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    main()
