"""What the web page's browser tests and its benchmark share: a program
folder on the simulated board, the built ristova-run serving the page over
TCP with a token, and Debian's Chromium, headless, under chromedriver."""

import ctypes
import datetime
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ.get("RISTOVA_BUILD_DIR", os.path.join(SOURCE, "build"))
CONTROLLER = "模拟继电器控制器.PSW"
TOKEN = "web-test-token-5c1e"
USES = [("照明", "风扇"), ("空调", "水泵"), ("电脑", "不存在"), ("音响", "投影")]
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def wait_until(condition, timeout=15.0, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)


def _die_with_parent():
    """A test killed at its deadline leaves no runner or board behind."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def clock_text(seconds):
    seconds %= 86400
    return "%02d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)


def day_second(t=None):
    local = time.localtime(t)
    return local.tm_hour * 3600 + local.tm_min * 60 + min(local.tm_sec, 59)


def clear_of_midnight(seconds=300):
    """The runner keeps the wall clock: a plan made just before midnight
    would belong to tomorrow, so wait for tomorrow."""
    left = 86400 - day_second()
    if left < seconds:
        time.sleep(left + 2)


class Site:
    """The demo folder of scripts/prepare-demo.sh with a plan of our own,
    the simulator on its link and the runner, on a fixed port so that a
    restarted runner serves the same origin."""

    def __init__(self, relays=4, rows=None, manual=True, stuck=0):
        """stuck: a relay of the board that follows no command (0: none)."""
        self.relays = relays
        self.work = tempfile.mkdtemp(prefix="ristova-web-")
        self.folder = os.path.join(self.work, "site")
        # Only the decoder is taken from the build, not the window.
        fake = os.path.join(self.work, "fakebuild")
        os.makedirs(os.path.join(fake, "PowerDll"))
        os.symlink(os.path.join(BUILD, "PowerDll", "SimRelay.so"),
                   os.path.join(fake, "PowerDll", "SimRelay.so"))
        subprocess.run([os.path.join(SOURCE, "scripts", "prepare-demo.sh"), self.folder, str(relays)],
                       env=dict(os.environ, RISTOVA_BUILD_DIR=fake), check=True,
                       stdout=subprocess.DEVNULL)
        self.write_plan(rows or [])
        self.set_manual(manual)
        self.port = free_port()
        self.url = "http://127.0.0.1:%d/" % self.port
        token = os.path.join(self.work, "token")
        with open(token, "w") as f:
            f.write(TOKEN + "\n")
        os.chmod(token, 0o600)
        with open(self.settings, "ab") as f:
            f.write(("[API]\r\nListen=127.0.0.1:%d\r\nTokenFile=%s\r\n" % (self.port, token)).encode())
        self.sim_log = os.path.join(self.work, "sim.log")
        self.sim = subprocess.Popen(
            [os.path.join(BUILD, "ristova-sim"), "--link", os.path.join(self.folder, "sim-tty"),
             "--relays", str(relays), "--log", self.sim_log]
            + (["--stuck", str(stuck)] if stuck else []),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        if not wait_until(lambda: os.path.exists(os.path.join(self.folder, "sim-tty")), 10):
            raise RuntimeError("the simulator made no link")
        self.runner = None
        self.runner_out = os.path.join(self.work, "runner.out")

    @property
    def settings(self):
        return os.path.join(self.folder, "系统参数.INI")

    def write_plan(self, rows):
        """rows: (relay, second of the day, on); the uses as the controller has them."""
        lines = []
        for n, (relay, second, on) in enumerate(rows, 1):
            no, nc = USES[(relay - 1) % 4]
            lines.append("%3d^^%d^^%s^^%s^^%s^^%s^^" % (n, relay, clock_text(second),
                                                      "接通" if on else "断开", no, nc))
        path = os.path.join(self.folder, CONTROLLER[:-4], "计划表.tab")
        with open(path, "wb") as f:
            f.write("".join(line + "\r\n" for line in lines).encode("gb18030"))

    def set_manual(self, allowed):
        with open(self.settings, "rb") as f:
            text = f.read()
        text = text.replace(b"chkManOperate=YES", b"chkManOperate=NO") if not allowed else \
            text.replace(b"chkManOperate=NO", b"chkManOperate=YES")
        with open(self.settings, "wb") as f:
            f.write(text)

    def start_runner(self):
        out = open(self.runner_out, "ab")
        self.runner = subprocess.Popen([os.path.join(BUILD, "ristova-run"), "--folder", self.folder],
                                       stdout=out, stderr=subprocess.STDOUT,
                                       preexec_fn=_die_with_parent)
        out.close()

        def serving():
            try:
                with socket.create_connection(("127.0.0.1", self.port), 0.5):
                    return True
            except OSError:
                return self.runner.poll() is not None
        if not wait_until(serving, 20) or self.runner.poll() is not None:
            raise RuntimeError("the runner does not serve: " + self.output())

    def stop_runner(self, sig=signal.SIGTERM):
        if self.runner and self.runner.poll() is None:
            self.runner.send_signal(sig)
            self.runner.wait(20)
        self.runner = None

    def output(self):
        with open(self.runner_out, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def commands(self):
        """The board's log: (arrival as a UTC datetime, command)."""
        found = []
        try:
            with open(self.sim_log, encoding="ascii", errors="replace") as f:
                for line in f:
                    stamp, _, command = line.strip().partition(" ")
                    try:
                        at = datetime.datetime.strptime(stamp, "%Y-%m-%dT%H:%M:%S.%f")
                    except ValueError:
                        continue
                    found.append((at.replace(tzinfo=datetime.timezone.utc), command))
        except FileNotFoundError:
            pass
        return found

    def close(self):
        self.stop_runner()
        if self.sim.poll() is None:
            self.sim.terminate()
            self.sim.wait(10)
        shutil.rmtree(self.work, ignore_errors=True)


def on_command(relay, on=True):
    return "O(00,%02d,%d)E" % (relay, 1 if on else 0)


def browser(width, height):
    """Headless Chromium with a page of this size, on this closed machine:
    nothing of its own goes to the network."""
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            raise RuntimeError(program + " is missing: scripts/install-deps.sh installs it")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    profile = tempfile.mkdtemp(prefix="ristova-chromium-")
    for argument in ("--headless", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--lang=zh-CN", "--user-data-dir=" + profile,
                     "--window-size=%d,%d" % (width, height)):
        options.add_argument(argument)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    # The browser's own texts and formats (the date picker's) in Chinese.
    env = dict(os.environ, LANGUAGE="zh_CN", LANG="zh_CN.UTF-8")
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER, env=env), options=options)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 500})
    # A page that never loads fails the test instead of holding it.
    driver.set_page_load_timeout(30)
    driver.set_script_timeout(30)
    driver.ristova_profile = profile
    return driver


def close_browser(driver):
    profile = getattr(driver, "ristova_profile", None)
    driver.quit()
    if profile:
        shutil.rmtree(profile, ignore_errors=True)


def log_in(driver, url, token=TOKEN):
    driver.get(url)
    field = wait_until(lambda: visible(driver, "token"), 15)
    if not field:
        raise RuntimeError("no login form")
    field.clear()
    field.send_keys(token)
    driver.find_element("id", "btnLogin").click()


def visible(driver, element_id):
    found = driver.find_elements("id", element_id)
    return found[0] if found and found[0].is_displayed() else None


def relay_rows(driver):
    """Per relay of the first controller: (state text, normally-open use,
    normally-closed use), as the page shows them."""
    return driver.execute_script("""
        return [...document.querySelectorAll('article.controller')[0]
                 .querySelectorAll('tr.relay')].map((row) => [
          row.querySelector('.stateText').textContent,
          row.querySelector('td.no .use').textContent,
          row.querySelector('td.nc .use').textContent]);""") if driver.find_elements(
        "css selector", "article.controller") else []
