#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A session bus that never answers: it listens on the socket PATH, takes every connection and
holds it open without reading or writing a byte. Prints "listening" once connections are taken.
Usage: silent_bus.py PATH"""
import socket
import sys

server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
server.bind(sys.argv[1])
server.listen(64)
print("listening", flush=True)
held = []
while True:
    held.append(server.accept()[0])
