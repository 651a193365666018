#!/usr/bin/env python3
"""The Windows programs under Wine, driven over TCP by a jig on the host: the command line's
station writes virtual mice with advancing serial numbers and a cancelled one fails; the
station window loads its image, refuses a job without a mouse and gives up a wait.

    wine-jig-over-tcp.py WINE CLI.exe STATION.exe
"""
import os
import socket
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Jig:
    def __init__(self, port, program):
        deadline = time.monotonic() + 120  # Wine's first start of a program is slow
        while True:
            try:
                self.socket = socket.create_connection(("127.0.0.1", port), timeout=60)
                break
            except OSError:
                if program.poll() is not None or time.monotonic() > deadline:
                    raise SystemExit(f"no jig port: {program.args} ended {program.poll()}")
                time.sleep(0.5)
        self.lines = self.socket.makefile("r", newline="\r\n")

    def ask(self, command):
        self.socket.sendall(command.encode() + b"\r\n")
        return self.reply()

    def reply(self):
        while (line := self.lines.readline().strip()).startswith(("#ACK", "#BUSY")):
            pass
        return line


failures = []


def expect(got, starts):
    if not got.startswith(starts):
        failures.append(f"expected {starts!r}, got {got!r}")


wine, cli, window = sys.argv[1:4]
with tempfile.TemporaryDirectory() as folder:
    with open(os.path.join(folder, "image.bin"), "wb") as image:
        image.write(bytes((i * 7 + 3) & 0xFF for i in range(2048)))

    port = free_port()
    served = subprocess.Popen(
        [wine, cli, "serve", "image.bin", "--remote", f"tcp:127.0.0.1:{port}", "--sim",
         "kvqm31x", "--real-time", "--factory", "0005,20200527,0000A0,1,A,1", "--records",
         "none"],
        cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        jig = Jig(port, served)
        expect(jig.ask("#VERSION"), "#OK VRAX-BIN-WRITER-CLI ")
        for serial in range(0xA0, 0xA3):
            expect(jig.ask("#AUTO"), f"#OK PASS JOB=WRITE SN={serial:06X} TYPE=0005 ")
        jig.socket.sendall(b"#AUTO\r\n")
        expect(jig.lines.readline().strip(), "#ACK")
        expect(jig.lines.readline().strip(), "#BUSY ")
        expect(jig.ask("#CANCEL"), "#OK CANCELLING")
        expect(jig.reply(), "#ERR007:CANCELLED JOB=WRITE")
        expect(jig.ask("#AUTO SN=123"), "#OK PASS JOB=WRITE SN=000123 ")
    finally:
        served.terminate()
        served.wait(60)

    port = free_port()
    station = subprocess.Popen([wine, window, "--remote", f"tcp:127.0.0.1:{port}"], cwd=folder,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        jig = Jig(port, station)
        expect(jig.ask("#STATUS"), "#OK NO IMAGE")
        expect(jig.ask("#LOAD image.bin"), "#OK NAME=image.bin SHA256=")
        expect(jig.ask("#STATUS"), "#OK NO MOUSE")
        expect(jig.ask("#AUTO"), "#ERR003:NO MOUSE")
        expect(jig.ask("#AUTO WAIT=1"), "#ERR011:TIMEOUT")
        expect(jig.ask("#LOAD ..\\image.bin"), "#NACK:")
    finally:
        station.kill()
        station.wait(60)

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
