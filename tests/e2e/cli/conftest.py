"""The tool and the emulator for the tests. Every test gets an environment of its own: no
VMK40XX_RESOURCE or VMK40XX_OPTIONS from outside, a history file and a configuration store in
its temporary directory."""

import os
import subprocess
from typing import Iterator

import pytest

SIM = os.environ.get("VMK40XX_SIM", "")
CLI = os.environ.get("VMK40XX_CLI", "")


@pytest.fixture
def env(tmp_path) -> dict:
    e = {k: v for k, v in os.environ.items() if not k.startswith("VMK40XX_")}
    e["VMK40XX_REGISTRY"] = os.environ.get("VMK40XX_REGISTRY", str(tmp_path / "registry.reg"))
    e["VMK40XX_HISTORY"] = str(tmp_path / "history")
    e["IVICONFIGSERVERDEFAULT"] = str(tmp_path / "IviConfigurationStore.xml")
    e["HOME"] = str(tmp_path)
    return e


@pytest.fixture
def emulator() -> Iterator[str]:
    proc = subprocess.Popen([SIM, "--model", "K4201A", "--listen", "127.0.0.1:0", "--load", "2=50"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        assert proc.stdout is not None
        yield f"TCPIP0::127.0.0.1::{int(proc.stdout.readline())}::SOCKET"
    finally:
        proc.terminate()
        proc.wait(timeout=10)


@pytest.fixture
def run(env):
    def run(*args: str, extra_env=None, timeout: float = 60) -> subprocess.CompletedProcess:
        e = dict(env, **(extra_env or {}))
        return subprocess.run([CLI, *args], capture_output=True, text=True, env=e,
                              timeout=timeout)
    return run
