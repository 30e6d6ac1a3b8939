#!/usr/bin/python3
"""vmrun --serve in a real browser: headless Chromium driven through
chromium-driver. The page's canvas must show exactly the screen that a
headless run of the same program writes with --screen; arrow keys pressed
in the page must reach the program, both as keys read and as the key held;
pause and step must stop the run and move it one Jack statement at a time,
the report showing the Jack line. Last,
the page running the bundled game is taken as a screenshot.

    browser_test.py --bin BUILD/bin --work DIR [--screenshot FILE.png]

Fails, never skips, when the browser is missing (Debian: apt-get install
chromium chromium-driver python3-selenium).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wsclient  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--window-size=1500,900"]


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def png_bits(path):
    """The pixels of vmrun's screen PNG (one bit a pixel, 1 black), as the
    page's screenBits() gives them."""
    data = open(path, "rb").read()
    chunks, at = b"", 8
    while at < len(data):
        n = int.from_bytes(data[at:at + 4], "big")
        if data[at + 4:at + 8] == b"IDAT":
            chunks += data[at + 8:at + 8 + n]
        at += 12 + n
    raw = zlib.decompress(chunks)
    row = 1 + 512 // 8
    out = []
    for y in range(256):
        line = raw[y * row + 1:(y + 1) * row]
        for x in range(512):
            bit = (line[x // 8] >> (7 - x % 8)) & 1
            # The PNG's palette or grey level: 0 is black.
            out.append("1" if bit == 0 else "0")
    return "".join(out)


def wait_for(driver, script, what, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = driver.execute_script("return " + script)
        if value:
            return value
        time.sleep(0.05)
    status = driver.execute_script("return JSON.stringify(window.vmPage && window.vmPage.status)")
    text = driver.execute_script("return window.vmPage && window.vmPage.text")
    fail("%s: not within %ds (status %s, text %r)" % (what, timeout, status, text))


def compile_program(jackc, source, work):
    folder = os.path.join(work, os.path.basename(source))
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(source, folder, ignore=shutil.ignore_patterns("*.vm", "*.png"))
    subprocess.run([jackc, folder], check=True)
    return folder


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)

    missing = [tool for tool in ("chromium", "chromedriver") if shutil.which(tool) is None]
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
    except ImportError:
        missing.append("selenium")
    if missing:
        fail("missing %s; the browser test needs it (Debian: apt-get install chromium chromium-driver "
             "python3-selenium)" % ", ".join(missing))

    vmrun, jackc = os.path.join(args.bin, "vmrun"), os.path.join(args.bin, "jackc")
    keys = compile_program(jackc, os.path.join(ROOT, "tests", "serve", "keys"), args.work)
    # The screen when the program first waits for a key, as a headless run
    # leaves it when standard input is empty.
    expected_png = os.path.join(args.work, "keys.png")
    headless = subprocess.run([vmrun, "--screen", expected_png, keys], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if headless.returncode != 3:
        fail("the headless run should end waiting for a key (status 3), not %d" % headless.returncode)
    expected = png_bits(expected_png)

    options = webdriver.ChromeOptions()
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    profile = tempfile.mkdtemp(prefix="chromium-", dir=args.work)
    options.add_argument("--user-data-dir=" + profile)
    options.binary_location = shutil.which("chromium")
    driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
    server = None
    try:
        driver.set_script_timeout(20)
        server = wsclient.Server(vmrun, [keys])
        driver.get(server.url)
        wait_for(driver, "vmPage.status && vmPage.status.key && vmPage.frames > 0", "the program waits for a key")
        # The last screen may come in the tick after the status.
        deadline = time.time() + 5
        while driver.execute_script("return vmPage.screenBits()") != expected and time.time() < deadline:
            time.sleep(0.05)
        shown = driver.execute_script("return vmPage.screenBits()")
        if shown != expected:
            fail("the canvas differs from --screen in %d pixels" % sum(a != b for a, b in zip(shown, expected)))
        width = driver.execute_script("return document.getElementById('screen').getBoundingClientRect().width")
        if width % 512 != 0:
            fail("the screen is scaled by %s / 512, not a whole number" % width)

        box = driver.find_element(By.ID, "screen-box")
        box.click()
        # Four keys read: each pressed and released.
        for key, code in ((Keys.ARROW_LEFT, 130), (Keys.ARROW_UP, 131), (Keys.ARROW_RIGHT, 132),
                          (Keys.ARROW_DOWN, 133)):
            ActionChains(driver).send_keys(key).perform()
            wait_for(driver, "vmPage.text.includes(' read %d\\n')" % code, "the program read key %d" % code)
        if driver.execute_script("return window.scrollY") != 0:
            fail("the arrow keys scrolled the page")
        # The key held: seen while held, 0 once released.
        ActionChains(driver).key_down(Keys.ARROW_UP).perform()
        wait_for(driver, "vmPage.text.includes('held 131\\n')", "the program saw the key held")
        ActionChains(driver).key_up(Keys.ARROW_UP).perform()
        wait_for(driver, "vmPage.text.includes('held 131\\nheld 0\\n')", "the program saw the key released")
        ActionChains(driver).send_keys(Keys.ESCAPE).perform()
        wait_for(driver, "vmPage.text.includes('held 140\\n')", "the program saw Escape")

        # Pause, then two single steps, then run on.
        driver.find_element(By.ID, "pause").click()
        paused = wait_for(driver, "vmPage.status.state === 'paused' && vmPage.status", "the run pauses")
        report = driver.find_element(By.ID, "report").text
        if "Main.main" not in report or "call stack" not in report or "/Main.jack:" not in report:
            fail("the report pane does not show where the run stands in Jack: %r" % report)
        # Run from source, a step is a Jack statement: the run moves on, and
        # the place the report names changes.
        steps, place = paused["steps"], report.split("\n")[0]
        for n in (1, 2):
            driver.find_element(By.ID, "step").click()
            moved = wait_for(driver, "vmPage.status.state === 'paused' && vmPage.status.steps > %d && vmPage.status"
                             % steps, "step %d moves the run on" % n)
            steps = moved["steps"]
            now = driver.find_element(By.ID, "report").text.split("\n")[0]
            if now == place:
                fail("step %d stayed on the statement %r" % (n, place))
            place = now
        driver.find_element(By.ID, "run").click()
        wait_for(driver, "vmPage.status.state === 'running' && vmPage.status.steps > %d" % steps, "the run goes on")
        status, out, err = server.interrupt()
        server = None
        if status != 130 or "interrupted by SIGINT: " not in err:
            fail("Ctrl-C should end vmrun with status 130 and a report: %d %r" % (status, err))

        # The bundled game, played for a moment, as the README shows it.
        snake = compile_program(jackc, os.path.join(ROOT, "examples", "snake"), args.work)
        server = wsclient.Server(vmrun, [snake])
        driver.get(server.url)
        wait_for(driver, "vmPage.text.includes('press a key') && vmPage.frames > 0", "the game waits for a key")
        driver.find_element(By.ID, "screen-box").click()
        ActionChains(driver).send_keys(Keys.SPACE).perform()
        for pause, key in ((0.4, Keys.ARROW_DOWN), (0.5, Keys.ARROW_RIGHT), (0.6, Keys.ARROW_UP)):
            time.sleep(pause)
            ActionChains(driver).key_down(key).perform()
            time.sleep(0.1)
            ActionChains(driver).key_up(key).perform()
        time.sleep(0.2)
        driver.find_element(By.ID, "pause").click()
        wait_for(driver, "vmPage.status.state === 'paused'", "the game pauses")
        shot = args.screenshot or os.path.join(args.work, "snake-live.png")
        driver.save_screenshot(shot)
    finally:
        driver.quit()
        if server is not None:
            server.kill()
        shutil.rmtree(profile, ignore_errors=True)
    print("browser test passed")


if __name__ == "__main__":
    main()
