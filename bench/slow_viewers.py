#!/usr/bin/env python3
"""Slow viewers for the benchmarks: CONNECTIONS connections to the relay,
each sending a valid viewer request one byte every INTERVAL seconds, spread
over SOURCES loopback source addresses (127.0.0.2, 127.0.0.3, ...). A
connection the relay closes is opened again. Runs for DURATION seconds,
then prints how many connections it made and how many the relay dropped.

usage: slow_viewers.py PORT CONNECTIONS DURATION [INTERVAL [SOURCES]]
"""
import socket
import sys
import time

REQUEST = b"GET /KIBO-1/5-1 HTTP/1.0\r\nUser-Agent: slow\r\n\r\n"


def main():
    port, count, duration = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    interval = float(sys.argv[4]) if len(sys.argv) > 4 else 1.0
    sources = int(sys.argv[5]) if len(sys.argv) > 5 else 4
    made = dropped = 0
    viewers = [None] * count  # [socket, next byte]

    def connect(i):
        nonlocal made
        s = socket.socket()
        s.setblocking(False)
        s.bind(("127.0.0.%d" % (2 + i % sources), 0))
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        made += 1
        viewers[i] = [s, 0]

    for i in range(count):
        connect(i)
    end = time.monotonic() + duration
    while time.monotonic() < end:
        started = time.monotonic()
        for i, viewer in enumerate(viewers):
            s, sent = viewer
            try:
                # The last byte is never sent: the request stays incomplete.
                s.send(REQUEST[sent % (len(REQUEST) - 1):][:1])
                viewer[1] = sent + 1
            except BlockingIOError:
                pass
            except OSError:
                s.close()
                dropped += 1
                connect(i)
        time.sleep(max(0.0, interval - (time.monotonic() - started)))
    for s, _ in viewers:
        s.close()
    print("slow viewers: %d connections made, %d dropped by the relay" % (made, dropped))


if __name__ == "__main__":
    main()
