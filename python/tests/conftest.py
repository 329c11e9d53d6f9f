"""The emulator as a pytest fixture: a K4201A with 50 ohms on Output2, on a free port."""

import os
import subprocess
from typing import Iterator

import pytest


@pytest.fixture
def emulator() -> Iterator[str]:
    sim = os.environ.get("VMK40XX_SIM")
    if not sim:
        pytest.skip("VMK40XX_SIM names no emulator")
    proc = subprocess.Popen(
        [sim, "--model", "K4201A", "--listen", "127.0.0.1:0", "--load", "2=50"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        assert proc.stdout is not None
        port = int(proc.stdout.readline().strip())
        yield f"TCPIP0::127.0.0.1::{port}::SOCKET"
    finally:
        proc.terminate()
        proc.wait(timeout=10)
