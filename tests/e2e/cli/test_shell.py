"""The shell on a pseudo-terminal, as a person at a terminal uses it: completion and history."""

import os
import pty
import select
import time

from conftest import CLI


class Terminal:
    def __init__(self, args, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(CLI, [CLI, *args], env)
        self.seen = b""

    def send(self, text: str) -> None:
        os.write(self.fd, text.encode())

    def expect(self, text: str, timeout: float = 20) -> str:
        end = time.monotonic() + timeout
        while text.encode() not in self.seen:
            left = end - time.monotonic()
            assert left > 0, f"{text!r} not seen in {self.seen!r}"
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready:
                try:
                    self.seen += os.read(self.fd, 4096)
                except OSError:
                    break
        assert text.encode() in self.seen, f"{text!r} not seen in {self.seen!r}"
        # What came after the text is kept for the next expectation.
        cut = self.seen.index(text.encode()) + len(text.encode())
        found, self.seen = self.seen[:cut], self.seen[cut:]
        return found.decode(errors="replace")

    def close(self) -> int:
        _, status = os.waitpid(self.pid, 0)
        os.close(self.fd)
        return os.waitstatus_to_exitcode(status)


def test_completion_and_history(env, emulator):
    t = Terminal(["shell", "-r", emulator], env)
    t.expect("vmk40xx> ")
    t.send("set Output2.VoltageLevel 2.5\r")
    t.expect("vmk40xx> ")
    t.send("get Output2.Vol\t")
    # Readline writes what it adds: as far as the names agree (VoltageLevel, VoltageRange).
    assert t.expect("tage").endswith("get Output2.Vol\x07tage")
    t.send("\t\t")  # asked again, readline lists them
    listing = t.expect("Output2.VoltageRange")
    assert "Output2.VoltageLevel" in listing and "Output1." not in listing
    t.send("L\t")
    t.expect("Level ")  # completed, with the space after a whole word
    t.send("\r")
    t.expect("2.5\r\n")
    t.expect("vmk40xx> ")
    t.send("ide\t")
    t.expect("identify ")
    t.send("\r")
    t.expect("K4201A")
    t.send("get Outp\x03")  # Ctrl-C drops the line, not the shell
    t.expect("vmk40xx> ")
    t.send("set Identity.InstrumentModel X\r")
    t.expect("Attribute is read only.")  # a failing line does not end the shell
    t.send("exit\r")
    assert t.close() == 0
    history = open(env["VMK40XX_HISTORY"]).read().splitlines()
    assert history[-5:] == ["set Output2.VoltageLevel 2.5", "get Output2.VoltageLevel",
                            "identify", "set Identity.InstrumentModel X", "exit"]

    # A new shell starts with that history: three steps up is the identify line.
    t = Terminal(["shell", "-r", emulator], env)
    t.expect("vmk40xx> ")
    t.send("\x1b[A\x1b[A\x1b[A")
    t.expect("identify")
    t.send("\r")
    t.expect("model         K4201A")
    t.send("\x04")  # end of input ends the shell
    assert t.close() == 0
