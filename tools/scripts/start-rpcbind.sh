#!/usr/bin/env bash
# Starts the portmapper (rpcbind) when none is running, so that VXI-11 clients find the
# emulator's server by host name alone. Tests that need it are skipped with a reason otherwise.
set -euo pipefail
if rpcinfo -p 127.0.0.1 >/dev/null 2>&1; then
  exit 0
fi
RPCBIND=$(command -v rpcbind || echo /usr/sbin/rpcbind)
if [ ! -x "$RPCBIND" ]; then
  echo "note: rpcbind is not installed (tools/scripts/install-deps.sh installs it); VXI-11 tests that need the portmapper will fail" >&2
  exit 0
fi
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
# A system booted with systemd starts it as a service; a container has none, so run it directly.
if command -v systemctl >/dev/null 2>&1 && systemctl is-system-running >/dev/null 2>&1; then
  $SUDO systemctl start rpcbind || true
fi
if ! rpcinfo -p 127.0.0.1 >/dev/null 2>&1; then
  # -w: warm start is harmless; rpcbind forks into the background by itself.
  $SUDO mkdir -p /run/rpcbind
  $SUDO "$RPCBIND" -w || $SUDO "$RPCBIND"
fi
for _ in 1 2 3 4 5 6 7 8 9 10; do
  rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && { echo "rpcbind started"; exit 0; }
  sleep 0.2
done
echo "note: rpcbind did not come up; VXI-11 tests that need the portmapper will fail" >&2
