# SPDX-License-Identifier: GPL-2.0-or-later
"""An RTMP server that refuses every publisher, as a server does that knows neither the application nor
the stream key: it completes the RTMP handshake, reads the publisher's first command (librtmp's
"connect") and hangs up without an answer.

librtmp's connection itself succeeds, so a publisher of libobs's rtmp_output then fails while it sets
its stream up (libobs's stop code -3, OBS_OUTPUT_INVALID_STREAM), the code a real server's refusal of
a wrong key ends in; a server that closes at once would end in -2 (could not connect) instead.

Usage: rtmp_refuser.py PORT. One line per connection on stdout; runs until killed.
"""

import os
import socket
import sys

SIG_SIZE = 1536  # RTMP's C1/S1/C2/S2 size


def recv_exact(conn, size):
    data = b""
    while len(data) < size:
        chunk = conn.recv(size - len(data))
        if not chunk:
            raise ConnectionError("the publisher closed after %d of %d bytes" % (len(data), size))
        data += chunk
    return data


def refuse(conn, number):
    conn.settimeout(10)
    c0c1 = recv_exact(conn, 1 + SIG_SIZE)
    # S0 (plain RTMP, version 3), S1 (time, zeros, random bytes) and S2 (C1 echoed).
    s1 = bytes(8) + os.urandom(SIG_SIZE - 8)
    conn.sendall(b"\x03" + s1 + c0c1[1:])
    recv_exact(conn, SIG_SIZE)  # C2
    conn.settimeout(2)
    try:
        command = conn.recv(4096)
    except socket.timeout:
        command = b""
    print("connection %d: handshake done, %d bytes of its first command read, refused"
          % (number, len(command)), flush=True)


def main():
    port = int(sys.argv[1])
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(8)
    print("listening on port %d" % port, flush=True)
    number = 0
    while True:
        conn, _ = server.accept()
        number += 1
        try:
            refuse(conn, number)
        except (OSError, ConnectionError) as exc:
            print("connection %d ended before the refusal: %s" % (number, exc), flush=True)
        finally:
            conn.close()


if __name__ == "__main__":
    main()
