#!/usr/bin/env python3
"""A channel's start as the engine makes it: from starting morvi-transcoder with its token line to
the first byte of ffmpeg's output on a UDP receiver (127.0.0.1), the median of several runs. With
--failover, a failover channel whose primary never answers: from the start to the switch text.

  bench/transcoder_start.py [--runs N] [--failover] [TRANSCODER=build/bin/morvi-transcoder]

The runs share the user's cache (the encoder list is kept there), as channels do; the first run
is shown on its own, as it may be the one that fills it."""
import argparse
import os
import socket
import statistics
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOKEN = "xoTra_6142"
SWITCH_TEXT = b"primary input timed out, switching to secondary input"


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start(transcoder, line):
    began = time.monotonic()
    program = subprocess.Popen([transcoder], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, start_new_session=True)
    program.stdin.write(f"{TOKEN} {line}\n".encode())
    program.stdin.close()
    return began, program


def stop(program):
    os.killpg(program.pid, 9)
    program.wait()


def first_output(transcoder):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as receiver:
        receiver.bind(("127.0.0.1", 0))
        receiver.settimeout(20)
        port = receiver.getsockname()[1]
        began, program = start(transcoder, "-re -f lavfi -i testsrc=size=640x360:rate=25 "
                               "-c:v libx264 -preset:v ultrafast -f mpegts "
                               f"udp://127.0.0.1:{port}?pkt_size=1316")
        try:
            receiver.recv(2048)
            return time.monotonic() - began
        finally:
            stop(program)


def failover_switch(transcoder):
    dead = free_udp_port()
    began, program = start(transcoder, f'-i "udp://127.0.0.1:{dead}" -re -f lavfi -i pal100bars '
                           '-re -f lavfi -i aevalsrc=0 -lavfi:v "[1][0:v]streamselect" '
                           '-lavfi:a "astreamselect" -c:v libx264 -preset:v ultrafast -c:a aac '
                           f"-f mpegts udp://127.0.0.1:{free_udp_port()}")
    said = b""
    try:
        while SWITCH_TEXT not in said:
            piece = program.stdout.read1(4096)
            if not piece:
                raise RuntimeError("the transcoder ended: " + said.decode(errors="replace"))
            said += piece
        return time.monotonic() - began
    finally:
        stop(program)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--failover", action="store_true")
    parser.add_argument("transcoder", nargs="?",
                        default=os.path.join(ROOT, "build", "bin", "morvi-transcoder"))
    arguments = parser.parse_args()
    measure = failover_switch if arguments.failover else first_output
    what = "start -> switch text" if arguments.failover else "start -> first output byte"
    times = [measure(arguments.transcoder) for _ in range(arguments.runs)]
    print(f"{arguments.transcoder}: {what}: first {times[0] * 1000:.0f} ms, median of the "
          f"others {statistics.median(times[1:] or times) * 1000:.0f} ms "
          f"(min {min(times) * 1000:.0f}, max {max(times) * 1000:.0f}, {len(times)} runs)")


if __name__ == "__main__":
    main()
