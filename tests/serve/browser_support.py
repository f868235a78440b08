"""Headless Chromium driven over the DevTools protocol, for the playground's
browser test and benchmark.

The browser runs with a profile of its own in a temporary directory, reaches
no host but loopback (every name resolves to nothing and any other address
goes to a proxy on a closed loopback port), and is killed on close. Every
wait is bounded.
"""
import base64
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.request

try:
    import websocket
except ImportError:  # reported when a browser is started, so that find_chromium works without it
    websocket = None

CHROMIUM_NAMES = ("/usr/bin/chromium", "/usr/bin/chromium-browser")


def find_chromium():
    return next((path for path in CHROMIUM_NAMES if os.access(path, os.X_OK)), None)


class Browser_Error(RuntimeError):
    pass


class Browser:
    def __init__(self, chromium, width=1100, height=900, timeout=30):
        if websocket is None:
            raise Browser_Error("the DevTools client is missing: install Debian python3-websocket (scripts/setup.sh does)")
        self.profile = tempfile.mkdtemp(prefix="tesq-chromium-")
        self.log = open(os.path.join(self.profile, "chromium.log"), "wb")
        args = [chromium, "--headless=new", "--no-sandbox", "--disable-gpu",
                "--remote-debugging-port=0", "--user-data-dir=" + self.profile,
                "--window-size=%d,%d" % (width, height), "--hide-scrollbars", "--mute-audio",
                "--no-first-run", "--no-default-browser-check", "--disable-extensions", "--disable-sync",
                "--disable-background-networking", "--disable-component-update", "--disable-default-apps",
                "--disable-domain-reliability", "--disable-client-side-phishing-detection", "--no-pings",
                "--disable-features=Translate,OptimizationHints,MediaRouter,DialMediaRouteProvider",
                "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE localhost, EXCLUDE [::1]", "--proxy-server=http://127.0.0.1:9",
                "about:blank"]
        # Shared memory for the renderers comes from /dev/shm, unless it is
        # too small for a large page (as in some containers).
        if shutil.disk_usage("/dev/shm").total < 512 << 20 if os.path.isdir("/dev/shm") else True:
            args.insert(1, "--disable-dev-shm-usage")
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
                                     start_new_session=True)
        self.events = []
        self.next_id = 0
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.time() + timeout
        while not (os.path.exists(port_file) and os.path.getsize(port_file) > 0 and Browser._read(port_file).count("\n") >= 1):
            if self.proc.poll() is not None or time.time() > deadline:
                self.close()
                raise Browser_Error("chromium did not start: " + self.log_text()[-2000:])
            time.sleep(0.05)
        port = int(Browser._read(port_file).split("\n")[0])
        with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=timeout) as r:
            pages = [t for t in json.load(r) if t.get("type") == "page"]
        if not pages:
            self.close()
            raise Browser_Error("chromium has no page")
        self.ws = websocket.create_connection(pages[0]["webSocketDebuggerUrl"], timeout=timeout, suppress_origin=True,
                                              enable_multithread=False)
        self.call("Page.enable")
        self.call("Runtime.enable")

    @staticmethod
    def _read(path):
        with open(path) as f:
            return f.read()

    def log_text(self):
        with open(os.path.join(self.profile, "chromium.log"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def call(self, method, timeout=60, **params):
        """Sends one command and returns its result; events on the way are kept in self.events."""
        self.next_id += 1
        my_id = self.next_id
        self.ws.send(json.dumps({"id": my_id, "method": method, "params": params}))
        deadline = time.time() + timeout
        while time.time() < deadline:
            self.ws.settimeout(max(0.1, deadline - time.time()))
            message = json.loads(self.ws.recv())
            if message.get("id") == my_id:
                if "error" in message:
                    raise Browser_Error("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)
                del self.events[:-1000]
        raise Browser_Error("%s: no answer within %d s" % (method, timeout))

    def evaluate(self, expression, timeout=60):
        """The value of a JavaScript expression (awaited when it is a promise)."""
        result = self.call("Runtime.evaluate", timeout=timeout, expression=expression, returnByValue=True,
                           awaitPromise=True, userGesture=True)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise Browser_Error("script failed: %s" % (details.get("exception", {}).get("description") or details))
        return result["result"].get("value")

    def wait_for(self, expression, timeout=20, interval=0.05):
        """Polls until the expression is truthy; returns its value."""
        deadline = time.time() + timeout
        while True:
            value = self.evaluate(expression)
            if value:
                return value
            if time.time() > deadline:
                raise Browser_Error("timed out waiting for: " + expression)
            time.sleep(interval)

    def wait_event(self, method, timeout=30):
        """Waits for the next event of that name (one already kept counts) and returns its parameters."""
        deadline = time.time() + timeout
        while True:
            for i, e in enumerate(self.events):
                if e["method"] == method:
                    del self.events[:i + 1]
                    return e.get("params", {})
            if time.time() > deadline:
                raise Browser_Error("no %s within %d s" % (method, timeout))
            self.ws.settimeout(max(0.1, deadline - time.time()))
            try:
                message = json.loads(self.ws.recv())
            except websocket.WebSocketTimeoutException:
                continue
            if "method" in message:
                self.events.append(message)

    def wait_value(self, expression, want, timeout=20, interval=0.05):
        """Polls until the expression's value equals `want`; returns the last value seen."""
        deadline = time.time() + timeout
        while True:
            value = self.evaluate(expression)
            if value == want or time.time() > deadline:
                return value
            time.sleep(interval)

    def navigate(self, url, timeout=30):
        self.events.clear()
        result = self.call("Page.navigate", url=url)
        if result.get("errorText"):
            raise Browser_Error("cannot open %s: %s" % (url, result["errorText"]))
        self.wait_event("Page.loadEventFired", timeout)

    def type_text(self, text):
        """Types text a character at a time, as a keyboard would give it to the focused field."""
        for ch in text:
            self.call("Input.insertText", text=ch)

    def press(self, key, code=None, key_code=0, modifiers=0):
        common = {"key": key, "code": code or key, "windowsVirtualKeyCode": key_code, "modifiers": modifiers}
        self.call("Input.dispatchKeyEvent", type="rawKeyDown", **common)
        self.call("Input.dispatchKeyEvent", type="keyUp", **common)

    def move_mouse(self, x, y):
        self.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y)

    def screenshot(self, path, full_page=True):
        params = {"format": "png"}
        if full_page:
            params["captureBeyondViewport"] = True
            metrics = self.call("Page.getLayoutMetrics")
            size = metrics.get("cssContentSize") or metrics["contentSize"]
            params["clip"] = {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}
        data = self.call("Page.captureScreenshot", **params)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def set_viewport(self, width, height, mobile=False):
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=mobile)

    def close(self):
        try:
            if getattr(self, "ws", None):
                self.ws.close()
        except OSError:
            pass
        # The browser's helper processes are in its own process group.
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(self.proc.pid, sig)
            except ProcessLookupError:
                break
            try:
                self.proc.wait(timeout=10)
                break
            except subprocess.TimeoutExpired:
                continue
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)
