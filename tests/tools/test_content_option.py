"""The content-mode build option: it needs the signing key, and says so when it is missing; with
a key the configuration goes through and the content library learns the mode is on."""
import subprocess
from pathlib import Path

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec

ROOT = Path(__file__).resolve().parents[2]


def configure(build, *options):
    return subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *options], capture_output=True, text=True,
                          timeout=300)


def test_the_content_mode_without_a_signing_key_stops_the_configuration(tmp_path):
    result = configure(tmp_path / "build", "-DLAUNCHER_CONTENT_PATCHING=ON")
    assert result.returncode != 0
    message = " ".join(result.stderr.split())  # CMake wraps its messages
    assert "LAUNCHER_CONTENT_PATCHING=ON needs LAUNCHER_SIGNING_PUBLIC_KEY" in message, result.stderr


def test_the_content_mode_with_a_signing_key_configures(tmp_path):
    key = ec.generate_private_key(ec.SECP256R1()).public_key()
    pem = tmp_path / "signing.pub"
    pem.write_bytes(key.public_bytes(serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo))
    build = tmp_path / "build"
    result = configure(build, "-DLAUNCHER_CONTENT_PATCHING=ON", f"-DLAUNCHER_SIGNING_PUBLIC_KEY={pem}")
    assert result.returncode == 0, result.stderr
    flags = (build / "CMakeFiles" / "launcher_portable_content.dir" / "flags.make").read_text()
    assert "-DLAUNCHER_CONTENT_PATCHING=1" in flags
    # Switched off again in the same tree, the library is built without the mode.
    assert configure(build, "-DLAUNCHER_CONTENT_PATCHING=OFF").returncode == 0
    flags = (build / "CMakeFiles" / "launcher_portable_content.dir" / "flags.make").read_text()
    assert "-DLAUNCHER_CONTENT_PATCHING=0" in flags
