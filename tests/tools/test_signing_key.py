"""The build-time signing key: a P-256 public key becomes the point's bytes in the generated
header; any other key, or a private key, stops the configuration with the file's name."""
import re
import subprocess
from pathlib import Path

import pytest
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec, rsa

ROOT = Path(__file__).resolve().parents[2]


def configure(build, key):
    return subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), f"-DLAUNCHER_SIGNING_PUBLIC_KEY={key}"],
                          capture_output=True, text=True, timeout=300)


def header_key(build):
    text = (build / "generated" / "build_signing_key.h").read_text()
    present = re.search(r"kSigningKeyPresent = (true|false);", text).group(1) == "true"
    values = re.search(r"kSigningPublicKey\[64\] = \{([^}]*)\}", text).group(1)
    return present, bytes(int(v, 16) for v in re.findall(r"0x([0-9a-f]{2})", values))


def public_pem(key, point=serialization.PublicFormat.SubjectPublicKeyInfo):
    return key.public_key().public_bytes(serialization.Encoding.PEM, point)


def test_the_point_of_a_p256_key_is_baked_in_and_no_key_means_none(tmp_path):
    key = ec.generate_private_key(ec.SECP256R1())
    numbers = key.public_key().public_numbers()
    point = numbers.x.to_bytes(32, "big") + numbers.y.to_bytes(32, "big")
    pem = tmp_path / "signing.pub"
    pem.write_bytes(public_pem(key))
    build = tmp_path / "build"
    result = configure(build, pem)
    assert result.returncode == 0, result.stderr
    assert header_key(build) == (True, point)

    # The same key with its point written compressed (openssl ec -conv_form compressed).
    compressed = tmp_path / "compressed.pub"
    subprocess.run(["openssl", "ec", "-pubin", "-in", str(pem), "-pubout", "-conv_form", "compressed", "-out",
                    str(compressed)], check=True, capture_output=True, timeout=60)
    assert compressed.read_bytes() != pem.read_bytes()
    assert configure(build, compressed).returncode == 0
    assert header_key(build) == (True, point)

    assert configure(build, "").returncode == 0
    assert header_key(build) == (False, b"")


def other_keys():
    p384 = ec.generate_private_key(ec.SECP384R1())
    rsa_key = rsa.generate_private_key(public_exponent=65537, key_size=1024)
    p256 = ec.generate_private_key(ec.SECP256R1())
    private = p256.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                 serialization.NoEncryption())
    return {
        "p384": (public_pem(p384), "not an ECDSA P-256"),
        "rsa": (public_pem(rsa_key), "not an ECDSA P-256"),
        "private": (private, "not a PEM public key"),
        "garbage": (b"-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n", "not an EC public key"),
    }


@pytest.mark.parametrize("kind", ["p384", "rsa", "private", "garbage", "missing"])
def test_anything_but_a_p256_public_key_stops_the_configuration(tmp_path, kind):
    pem = tmp_path / f"{kind}.pem"
    if kind == "missing":
        reason = "no such file"
    else:
        data, reason = other_keys()[kind]
        pem.write_bytes(data)
    result = configure(tmp_path / "build", pem)
    assert result.returncode != 0
    message = " ".join(result.stderr.split())
    assert f"signing key {pem}" in message and reason in message, result.stderr
