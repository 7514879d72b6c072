#!/usr/bin/python3
"""CPU share of the real launcher idling in the ready state (every tick composes and presents)."""
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import harness  # noqa: E402

TICKS = 100  # 5 s at one tick every 50 ms


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        try:
            fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            pass
    return total / 100.0


def main():
    folder = ROOT / "build" / "bench" / "idle"
    subprocess.run(["rm", "-rf", str(folder)])
    run = harness.Launcher(folder)
    info = f"[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n{harness.LAUNCHER_VERSION}\n[PLAYER]\n10203\n"
    (folder / "update.dat").write_text(info)
    run.write_config(10203)
    run.start(timeout=120)
    run.wait_window()
    time.sleep(2)
    pids = [int(p) for p in subprocess.run(["pgrep", "-f", "launcher.exe"], capture_output=True,
                                           text=True).stdout.split()]
    start_cpu, start = cpu_seconds(pids), time.time()
    time.sleep(TICKS * 0.05)
    share = (cpu_seconds(pids) - start_cpu) / (time.time() - start) * 100
    run.stop()
    print(f"launcher idle in the ready state:   {share:.2f} % CPU (the launcher process, without wineserver)")


if __name__ == "__main__":
    main()
