#!/usr/bin/python3
"""vmrun --serve without a browser, over loopback from a raw-socket client:
a live run against the headless run of the same program, which requests get the page and which get 403 (Host, Origin), the one page
that controls a run, messages the page must not send (each closes that
connection only, and the run goes on), a client that vanishes while holding
a key, and the signals that end the server.

    server_test.py --bin BUILD/bin --work DIR
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wsclient  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, file=sys.stderr)


def request(port, method, host, path="/", headers=""):
    host_line = "" if host is None else "Host: %s\r\n" % host
    connection = "" if "Upgrade" in headers else "Connection: close\r\n"
    return wsclient.http_request(port, ("%s %s HTTP/1.1\r\n%s%s%s\r\n"
                                        % (method, path, host_line, connection, headers)).encode())


def upgrade_headers(origin):
    return ("Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
            "Sec-WebSocket-Version: 13\r\n" + ("Origin: %s\r\n" % origin if origin else ""))


def http_cases(port):
    here = "127.0.0.1:%d" % port
    cases = [
        # (what, method, Host, path, more headers, status expected)
        ("the page", "GET", here, "/", "", 200),
        ("the page by localhost", "GET", "localhost:%d" % port, "/", "", 200),
        ("HEAD of the page", "HEAD", here, "/", "", 200),
        ("another name", "GET", "evil.example:%d" % port, "/", "", 403),
        ("a name ending in the address", "GET", "127.0.0.1.evil.example:%d" % port, "/", "", 403),
        ("another port", "GET", "127.0.0.1:%d" % (port + 1 if port < 65535 else 1), "/", "", 403),
        ("no port", "GET", "127.0.0.1", "/", "", 403),
        ("another loopback address", "GET", "127.0.0.2:%d" % port, "/", "", 403),
        ("the address in another spelling", "GET", "2130706433:%d" % port, "/", "", 403),
        ("no Host", "GET", None, "/", "", 403),
        ("another path", "GET", here, "/secret", "", 404),
        ("POST", "POST", here, "/", "Content-Length: 0\r\n", 405),
        ("WebSocket from the page", "GET", here, "/ws", upgrade_headers("http://" + here), 101),
        ("WebSocket from another site", "GET", here, "/ws", upgrade_headers("http://evil.example"), 403),
        ("WebSocket from the address over https", "GET", here, "/ws", upgrade_headers("https://" + here), 403),
        ("WebSocket from an opaque origin", "GET", here, "/ws", upgrade_headers("null"), 403),
        ("WebSocket with a foreign Host", "GET", "evil.example", "/ws", upgrade_headers("http://evil.example"), 403),
        ("WebSocket elsewhere", "GET", here, "/other", upgrade_headers("http://" + here), 403),
    ]
    for what, method, host, path, headers, expected in cases:
        status, head, body = request(port, method, host, path, headers)
        check(status == expected, "%s: status %d, expected %d" % (what, status, expected))
        if expected == 200 and method == "GET":
            check(b"<canvas" in body and b"http://" not in body and b"https://" not in body,
                  "%s: the page is served and loads nothing from elsewhere" % what)
            check("Content-Security-Policy: default-src 'none'" in head, "%s: the page's security policy" % what)
        if expected == 403:
            check(b"answers only" in body or b"taken only" in body, "%s: the 403 says why: %r" % (what, body))
        # The 101 case above took control; the next controller must wait
        # for it to go, which the server sees when its socket closes.
    status, _, _ = wsclient.http_request(port, b"NOT HTTP AT ALL\r\n\r\n")
    check(status == 400, "a request that is not HTTP: status %d, expected 400" % status)


def wait_control(port, timeout=10):
    """A client that controls the run, once the last one is seen gone."""
    deadline = time.time() + timeout
    while True:
        c = wsclient.Client(port)
        m = c.receive()
        if m is not None and not m[0] and m[1]["type"] == "hello":
            return c
        c.close()
        if time.time() > deadline:
            raise AssertionError("no control of the run within %ds" % timeout)
        time.sleep(0.05)


def bad_messages(port):
    # (what, frame: opcode, payload, masked)
    cases = [
        ("a command that does not exist", 1, b"jump 5", True),
        ("a key code that does not exist", 1, b"key 999", True),
        ("a negative speed", 1, b"speed -1", True),
        ("a number past 32 bits", 1, b"speed 99999999999", True),
        ("a command with a stray argument", 1, b"run now", True),
        ("a binary message", 2, b"run", True),
        ("text that is not UTF-8", 1, b"key \xff", True),
        ("a message over 4 KiB", 1, b"x" * 5000, True),
        ("an unmasked frame", 1, b"run", False),
        ("an unknown opcode", 3, b"", True),
    ]
    for what, opcode, payload, masked in cases:
        c = wait_control(port)
        c.frame(opcode, payload, mask=masked)
        while c.receive() is not None:
            pass
        check(c.close_code is not None and c.close_code >= 1002, "%s: closed with code %s (%s)"
              % (what, c.close_code, c.close_reason))
        c.close()
        # The run goes on and takes the next page.
        c = wait_control(port)
        c.send("run")
        first = c.until(lambda m: m["state"] == "running")
        later = c.until(lambda m: m["steps"] > first["steps"])
        check(later["steps"] > first["steps"], "%s: the run goes on" % what)
        c.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    vmrun, jackc = os.path.join(args.bin, "vmrun"), os.path.join(args.bin, "jackc")
    work = args.work
    shutil.rmtree(work, ignore_errors=True)
    keys = os.path.join(work, "keys")
    shutil.copytree(os.path.join(ROOT, "tests", "serve", "keys"), keys)
    subprocess.run([jackc, keys], check=True)

    # A live run is the headless run: the bundled example, run to its end
    # with a page connected, gives the same steps, text and screen.
    mandelbrot = os.path.join(work, "mandelbrot")
    shutil.copytree(os.path.join(ROOT, "examples", "mandelbrot"), mandelbrot,
                    ignore=shutil.ignore_patterns("*.vm", "*.png"))
    subprocess.run([jackc, mandelbrot], check=True)
    headless = subprocess.run([vmrun, "--stats", "--screen", os.path.join(work, "m-headless.png"), mandelbrot],
                              capture_output=True, text=True, timeout=60)
    server = wsclient.Server(vmrun, [mandelbrot], ["--stats", "--screen", os.path.join(work, "m-live.png")])
    page = wait_control(server.port)
    ended = page.until(lambda s: s["state"] == "ended", timeout=60)
    # Restarted at 2,000 steps a second, it keeps to the clock; at full
    # speed again it ends as before.
    page.send("speed 2000")
    page.send("restart")
    page.until(lambda s: s["run"] == 2)
    started = time.time()
    time.sleep(0.5)
    page.send("pause")
    paused = page.until(lambda s: s["state"] == "paused")
    elapsed = time.time() - started
    check(300 <= paused["steps"] <= 2000 * elapsed + 500, "2,000 steps a second: %d steps in %.2f s"
          % (paused["steps"], elapsed))
    page.send("speed 0")
    page.send("run")
    again = page.until(lambda s: s["state"] == "ended", timeout=60)
    check(again["run"] == 2 and again["steps"] == ended["steps"], "the restarted run: %r" % again)
    page.close()
    status, out, err = server.interrupt(signal.SIGINT)
    steps = headless.stderr.splitlines()[0]
    check(ended["exit"] == headless.returncode == 0 and ended["steps"] == int(steps.split(": ")[1]),
          "the live run ends as the headless one: %r against %r" % (ended, steps))
    check(out == 2 * headless.stdout and err.startswith(steps + "\ncalls: "), "the live runs' text and statistics")
    check(open(os.path.join(work, "m-live.png"), "rb").read() == open(os.path.join(work, "m-headless.png"),
                                                                       "rb").read(), "the live run's screen")

    # Ctrl-C before any page came: nothing ran, status 130.
    server = wsclient.Server(vmrun, [keys])
    status, _, err = server.interrupt(signal.SIGINT)
    check(status == 130 and err == "", "SIGINT before any page: status %d, %r" % (status, err))

    server = wsclient.Server(vmrun, [keys])
    try:
        http_cases(server.port)

        # Clients that open sockets and hold them get 64 at most; the
        # server takes requests again once they are gone.
        held = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(70)]
        time.sleep(0.3)
        try:
            status, _, _ = wsclient.get(server.port)
        except OSError:
            status = 0
        check(status == 0, "a request past 64 connections held is closed, not answered (%d)" % status)
        for s in held:
            s.close()
        deadline = time.time() + 5
        while time.time() < deadline:
            try:
                status, _, _ = wsclient.get(server.port)
            except OSError:
                status = 0
            if status == 200:
                break
            time.sleep(0.05)
        check(status == 200, "the page again once the sockets are closed (%d)" % status)

        # One page controls the run; a second is told so and closed.
        first = wait_control(server.port)
        second = wsclient.Client(server.port)
        m = second.receive()
        check(m is not None and m[1].get("type") == "refused" and "Another page controls" in m[1]["reason"],
              "a second page is refused with a message: %r" % (m,))
        check(second.receive() is None and second.close_code == 1013,
              "the second page is closed (code %s)" % second.close_code)
        second.close()
        first.until(lambda s: s["key"])
        # The first page still drives the run: four keys read.
        for code in (130, 131, 132, 133):
            first.send("key %d" % code)
            first.send("key 0")
        text = ""
        deadline = time.time() + 10
        while "read 133" not in text and time.time() < deadline:
            m = first.receive()
            if m and not m[0] and m[1]["type"] == "text":
                text += m[1]["text"]
        check("read 130\n? read 131\n? read 132\n? read 133\n" in text, "the four keys are read: %r" % text)

        # A page that vanishes while holding a key: the key is released.
        first.send("key 65")
        first.until(lambda s: s["steps"] > 0)
        first.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        first.close()  # a reset, not a close handshake
        c = wait_control(server.port)
        text = ""
        deadline = time.time() + 10
        while "held 65\nheld 0\n" not in text and time.time() < deadline:
            m = c.receive()
            if m and not m[0] and m[1]["type"] == "text":
                text += m[1]["text"]
        # The new page is given the run's text so far, then what follows.
        check(text.startswith("keys:\n") and "held 65\nheld 0\n" in text,
              "the key of a page that vanished is released: %r" % text)
        c.close()

        bad_messages(server.port)

        # Ctrl-C in the middle of the run: status 130 and the report of an
        # interrupt.
        status, out, err = server.interrupt(signal.SIGINT)
        server = None
        check(status == 130, "SIGINT: status %d" % status)
        # Run from source, the report is in Jack: the place, the line, the stack.
        check(": note: interrupted by SIGINT: " in err.split("\n")[0] and "/Main.jack:" in err.split("\n")[0] and
              "call stack, innermost first:\n    Main.main (" in err, "SIGINT: the report %r" % err)
        check(out.startswith("keys:\n"), "the text goes to standard output too: %r" % out[:40])
        # SIGTERM: 143, and --screen writes the screen as it stands, here
        # as a headless run leaves it when it first wants a key.
        live_png, headless_png = os.path.join(work, "live.png"), os.path.join(work, "headless.png")
        subprocess.run([vmrun, "--screen", headless_png, keys], stdin=subprocess.DEVNULL, capture_output=True)
        server = wsclient.Server(vmrun, [keys], ["--screen", live_png])
        page = wait_control(server.port)
        page.until(lambda s: s["key"])
        status, _, err = server.interrupt(signal.SIGTERM)
        server = None
        check(status == 143 and ": note: interrupted by SIGTERM: " in err.split("\n")[0], "SIGTERM: %d %r" % (status, err))
        check(open(live_png, "rb").read() == open(headless_png, "rb").read(), "--screen of a live run")
    finally:
        if server is not None:
            server.kill()

    # Usage: what --serve does not take.
    for what, argv, message in [
        ("a name", ["--serve=example.com:80"], "--serve: expected ADDR:PORT"),
        ("a port too large", ["--serve=127.0.0.1:65536"], "--serve: expected ADDR:PORT"),
        ("an unbracketed IPv6 address", ["--serve=::1:80"], "--serve: expected ADDR:PORT"),
        ("a key script", ["--serve=127.0.0.1:0", "--keys", keys + "/Main.jack"], "--keys and --serve"),
    ]:
        run = subprocess.run([vmrun, *argv, keys], capture_output=True, text=True, timeout=10)
        check(run.returncode == 1 and run.stderr.startswith("vmrun: " + message), "%s: %d %r"
              % (what, run.returncode, run.stderr))
    # A port already taken.
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        run = subprocess.run([vmrun, "--serve=127.0.0.1:%d" % port, keys], capture_output=True, text=True,
                             timeout=10)
        check(run.returncode == 1 and "cannot listen on 127.0.0.1:%d" % port in run.stderr,
              "a port taken: %d %r" % (run.returncode, run.stderr))

    if failures:
        sys.exit("%d failures" % len(failures))
    print("server test passed")


if __name__ == "__main__":
    main()
