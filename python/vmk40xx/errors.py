"""The one exception of the package."""


class DriverError(Exception):
    """A failure the driver reported: `status` is its IVI-C status code (negative), and the text
    is the driver's description of it."""

    def __init__(self, status: int, description: str) -> None:
        super().__init__(description)
        self.status = status
        self.description = description

    def __repr__(self) -> str:
        return f"DriverError(0x{self.status & 0xFFFFFFFF:08X}, {self.description!r})"
