"""A small WebSocket client over a raw socket, for the tests of vmrun
--serve and for bench/run: it can send what no well-behaved client would
(bad frames, oversized messages) and vanish at any moment."""

import base64
import json
import os
import re
import socket
import struct
import subprocess
import threading
import time


def http_request(port, raw, timeout=5):
    """Sends raw request bytes, returns (status code, headers text, body)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(raw)
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
            head, sep, body = data.partition(b"\r\n\r\n")
            if sep and head.startswith(b"HTTP/1.1 101"):
                break
            if sep:
                m = re.search(rb"content-length: *(\d+)", head, re.I)
                if m and len(body) >= int(m.group(1)):
                    break
    head, _, body = data.partition(b"\r\n\r\n")
    status = int(head.split(b" ", 2)[1]) if head else 0
    return status, head.decode(errors="replace"), body


def get(port, path="/", host=None, extra=""):
    host = host if host is not None else "127.0.0.1:%d" % port
    return http_request(port, ("GET %s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n%s\r\n" % (path, host, extra))
                        .encode())


class Client:
    def __init__(self, port, origin=None, host=None, timeout=10):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        host = host if host is not None else "127.0.0.1:%d" % port
        origin_line = "Origin: %s\r\n" % origin if origin else ""
        self.sock.sendall(("GET /ws HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n%s\r\n"
                           % (host, key, origin_line)).encode())
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.sock.recv(4096)
            if not chunk:
                break
            data += chunk
        head, _, self.pending = data.partition(b"\r\n\r\n")
        self.status = int(head.split(b" ", 2)[1]) if head else 0
        self.close_code = None
        self.close_reason = ""

    def _recv_exact(self, n):
        while len(self.pending) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("connection closed")
            self.pending += chunk
        out, self.pending = self.pending[:n], self.pending[n:]
        return out

    def frame(self, opcode, payload, fin=True, mask=True):
        """Sends one frame as given (a client must mask; the tests may not)."""
        head = bytes([(0x80 if fin else 0) | opcode])
        n = len(payload)
        bit = 0x80 if mask else 0
        if n < 126:
            head += bytes([bit | n])
        elif n < 65536:
            head += bytes([bit | 126]) + struct.pack(">H", n)
        else:
            head += bytes([bit | 127]) + struct.pack(">Q", n)
        if mask:
            key = os.urandom(4)
            payload = bytes(b ^ key[i % 4] for i, b in enumerate(payload))
            head += key
        self.sock.sendall(head + payload)

    def send(self, text):
        self.frame(1, text.encode())

    def receive(self):
        """The next message: (True, bytes) for binary, (False, dict) for
        text; None once the server has closed."""
        try:
            while True:
                b0, b1 = self._recv_exact(2)
                n = b1 & 0x7f
                if n == 126:
                    n = struct.unpack(">H", self._recv_exact(2))[0]
                elif n == 127:
                    n = struct.unpack(">Q", self._recv_exact(8))[0]
                payload = self._recv_exact(n)
                opcode = b0 & 0x0f
                if opcode == 8:
                    self.close_code = struct.unpack(">H", payload[:2])[0] if len(payload) >= 2 else None
                    self.close_reason = payload[2:].decode(errors="replace")
                    return None
                if opcode == 9:
                    self.frame(10, payload)
                    continue
                if opcode == 2:
                    return True, payload
                if opcode == 1:
                    return False, json.loads(payload)
        except (EOFError, ConnectionResetError, socket.timeout):
            return None

    def until(self, predicate, timeout=20):
        """Reads until a status message satisfies predicate; returns it."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            m = self.receive()
            if m is None:
                raise AssertionError("the server closed the connection (%s %s)" % (self.close_code,
                                                                                  self.close_reason))
            binary, body = m
            if not binary and body.get("type") == "status" and predicate(body):
                return body
        raise AssertionError("no such status within %ss" % timeout)

    def close(self):
        self.sock.close()


class Server:
    """vmrun --serve=127.0.0.1:0 on the paths given, started and ended by the test."""

    def __init__(self, vmrun, paths, extra=()):
        self.process = subprocess.Popen([vmrun, "--serve=127.0.0.1:0", *extra, *paths], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        line = self.process.stdout.readline().decode()
        m = re.match(r"open http://127\.0\.0\.1:(\d+)/$", line.strip())
        if not m:
            self.process.kill()
            raise AssertionError("vmrun did not say where it serves: %r %r" % (line, self.process.stderr.read()))
        self.port = int(m.group(1))
        self.url = "http://127.0.0.1:%d/" % self.port
        # The program's text comes on standard output too: it is drained, so
        # that a full pipe never holds the machine up.
        self.out = []
        self.reader = threading.Thread(target=lambda: self.out.extend(iter(self.process.stdout.readline, b"")),
                                       daemon=True)
        self.reader.start()

    def interrupt(self, sig=2, timeout=10):
        """Sends the signal; returns (status, stdout, stderr)."""
        self.process.send_signal(sig)
        err = self.process.stderr.read()
        self.process.wait(timeout=timeout)
        self.reader.join(timeout)
        return self.process.returncode, b"".join(self.out).decode(errors="replace"), err.decode(errors="replace")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
