"""Drives headless Chromium and Firefox ESR with the Zorvane extension, a
zorvane-server on SQLite and zorvane-native-host, for the browser tests, the
benchmark and the demo. Run with /usr/bin/python3 (it needs Debian's
python3-websocket).

Chromium is driven over the DevTools protocol on a pipe (fd 3 and 4,
NUL-terminated JSON), Firefox over WebDriver BiDi on a websocket. In both,
the harness evaluates scripts in a tab that shows the extension's popup, so
they run with the extension's own permissions: bookmarks.*, storage.*, and
runtime.sendMessage to the background, which wakes it when it is stopped.
"""
import fcntl
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import uuid

FIREFOX_ID = "sync@zorvane.net"
FIREFOX_UUID = "5d1c2b7e-8a4f-4e36-9c0d-2f7b1e6a9c41"
CHROMIUM = "/usr/lib/chromium/chromium"
FIREFOX = "/usr/lib/firefox-esr/firefox-esr"


class HarnessError(Exception):
    pass


def _clean_env(home, extra=None):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("XDG_", "DBUS_", "ZORVANE_", "CHROME_", "MOZ_"))}
    env.update(HOME=home, ZORVANE_NO_KEYRING="1", LANG="en_US.UTF-8")
    env.update(extra or {})
    return env


class Server:
    """A zorvane-server on SQLite on a free loopback port."""

    def __init__(self, build, work):
        self.bin = os.path.join(build, "bin", "zorvane-server")
        self.store = "sqlite:" + os.path.join(work, "server.db")
        self.log_path = os.path.join(work, "server.log")
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([self.bin, "--store", self.store, "serve", "--listen",
                                      "127.0.0.1:0"], stderr=self.log)
        self.port = None
        for _ in range(300):
            with open(self.log_path, "rb") as f:
                m = re.search(rb"serving on 127\.0\.0\.1:(\d+)", f.read())
            if m:
                self.port = int(m.group(1))
                break
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        if not self.port:
            raise HarnessError("zorvane-server did not start: " + open(self.log_path).read())
        self.address = "127.0.0.1:%d" % self.port

    def add_user(self, user, password):
        subprocess.run([self.bin, "--store", self.store, "user", "add", user,
                        "--password-stdin"], input=(password + "\n").encode(), check=True,
                       stdout=subprocess.DEVNULL)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


def install_host(build, extension_dir, browser, manifest_dir):
    subprocess.run([os.path.join(build, "bin", "zorvane-native-host"), "install", "--browser",
                    browser, "--extension-dir", extension_dir, "--manifest-dir", manifest_dir],
                   check=True, stdout=subprocess.DEVNULL)


class Browser:
    """What both drivers offer: evaluate a script in the extension's page."""

    name = ""

    def evaluate(self, body, timeout=120):
        """Runs `body` (the body of an async function) in the extension page and
        returns what it returns, through JSON."""
        raise NotImplementedError

    # --- helpers on top of evaluate ------------------------------------------

    def message(self, msg, timeout=180):
        """runtime.sendMessage to the background; its answer's result."""
        r = self.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            try {
                return (await api.runtime.sendMessage(%s)) || {ok: false, error: 'no answer'};
            } catch (e) {
                return {ok: false, error: String(e && e.message || e)};
            }
        """ % json.dumps(msg), timeout)
        if not r.get("ok"):
            raise HarnessError("%s: %s" % (self.name, r.get("error")))
        return r["result"]

    def message_later(self, msg):
        """runtime.sendMessage to the background, not waiting for its answer."""
        self.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            api.runtime.sendMessage(%s).catch(() => {});
            return 1;
        """ % json.dumps(msg))

    def set_options(self, **options):
        """The background's options (sync.js DEFAULTS) in storage; the rest stay."""
        self.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            const {options} = await api.storage.local.get('options');
            await api.storage.local.set({options: {...(options || {}), ...%s}});
            return 1;
        """ % json.dumps(options))

    def stored(self, *keys):
        """The extension's storage.local (read from its page: no background wakes)."""
        return self.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            return await api.storage.local.get(%s);
        """ % json.dumps(list(keys)))

    def bookmark_count(self):
        return self.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            let n = 0;
            const walk = (x) => { if (x.url !== undefined) n++; (x.children || []).forEach(walk); };
            walk((await api.bookmarks.getTree())[0]);
            return n;
        """)

    def sync(self, **kw):
        msg = {"cmd": "sync", "reason": "test"}
        msg.update(kw)
        return self.message(msg)

    def set_account(self, server, user, password):
        return self.message({"cmd": "setAccount", "server": server, "user": user,
                             "password": password})

    def reset(self, change_delay_seconds=3600):
        """Empties the bookmarks, the extension's storage and alarms, and the
        native host's files, so the next case starts as a new profile."""
        self.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            await api.storage.local.clear();
            await api.storage.local.set({options: {changeDelaySeconds: %d}});
            const [root] = await api.bookmarks.getTree();
            for (const top of root.children)
                for (const c of top.children || [])
                    await api.bookmarks.removeTree(c.id);
            await new Promise((r) => setTimeout(r, 50));
            await api.alarms.clearAll();
            await api.storage.local.remove(['lastChange', 'syncedAt', 'pending', 'lastResult']);
            return true;
        """ % change_delay_seconds)
        shutil.rmtree(os.path.join(self.home, ".local", "share", "zorvane"), ignore_errors=True)

    def tree(self):
        """The bookmarks as nested dicts under the browser's top-level folders,
        keyed by the engine's names (menu, toolbar, unfiled, mobile)."""
        return self.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            const [root] = await api.bookmarks.getTree();
            const conv = (n) => n.type === 'separator' ? {sep: true}
                : (n.url !== undefined ? {title: n.title, url: n.url, id: n.id}
                   : {title: n.title, id: n.id, children: (n.children || []).map(conv)});
            return root.children.map((t) => ({id: t.id, title: t.title, type: t.folderType || '',
                                              children: (t.children || []).map(conv)}));
        """)

    def roots(self):
        """Top-level folder ids by the engine's names."""
        out = {}
        for t in self.tree():
            name = ROOT_NAMES.get(t["id"]) or ROOT_NAMES.get(t["type"])
            if name:
                out[name] = t["id"]
        return out

    def create(self, parent, title, url=None, index=None, separator=False):
        d = {"parentId": parent}
        if separator:
            d["type"] = "separator"
        else:
            d["title"] = title
            if url is not None:
                d["url"] = url
        if index is not None:
            d["index"] = index
        return self.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            return (await api.bookmarks.create(%s)).id;
        """ % json.dumps(d))

    def call(self, method, *args):
        """bookmarks.METHOD(*args)."""
        return self.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            const r = await api.bookmarks.%s(...%s);
            return r === undefined ? null : r;
        """ % (method, json.dumps(list(args))))

    def state(self):
        return self.message({"cmd": "state"})


# The popup with its account and note sections open, for a screenshot.
SHOW_ALL = ("document.querySelectorAll('details').forEach((d) => { d.open = true; });"
            "await new Promise((r) => setTimeout(r, 300)); return 1;")

ROOT_NAMES = {
    "1": "toolbar", "2": "unfiled", "3": "mobile",
    "bookmarks-bar": "toolbar", "other": "unfiled", "mobile": "mobile",
    "menu________": "menu", "toolbar_____": "toolbar", "unfiled_____": "unfiled",
    "mobile______": "mobile",
}


def _write_chromium_bookmarks(path, bar, other):
    """A Chromium Bookmarks file with `bar` and `other` as lists of
    (title, url) or (title, [children])."""
    counter = [10]

    def node(item):
        counter[0] += 1
        title, what = item
        base = {"id": str(counter[0]), "name": title, "date_added": "13300000000000000",
                "guid": str(uuid.uuid4())}
        if isinstance(what, list):
            base.update(type="folder", children=[node(c) for c in what],
                        date_modified="13300000000000000")
        else:
            base.update(type="url", url=what)
        return base

    def root(rid, name, children):
        return {"id": rid, "name": name, "type": "folder", "children": [node(c) for c in children],
                "date_added": "13300000000000000", "date_modified": "0",
                "guid": str(uuid.uuid4())}

    data = {"roots": {"bookmark_bar": root("1", "Bookmarks bar", bar),
                      "other": root("2", "Other bookmarks", other),
                      "synced": root("3", "Mobile bookmarks", [])},
            "version": 1}
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        json.dump(data, f)


class Chromium(Browser):
    name = "chromium"

    def __init__(self, build, extension_dir, work, seed=None):
        with open(os.path.join(extension_dir, "manifest.json")) as f:
            from_ext = json.load(f)
        self.ext_id = _chromium_id(from_ext["key"])
        self.dir = os.path.join(work, "chromium")
        self.home = os.path.join(self.dir, "home")
        os.makedirs(self.home, exist_ok=True)
        install_host(build, extension_dir, "chromium", os.path.join(self.dir, "NativeMessagingHosts"))
        if seed:
            _write_chromium_bookmarks(os.path.join(self.dir, "Default", "Bookmarks"), *seed)
        cmd_r, cmd_w = os.pipe()
        res_r, res_w = os.pipe()
        self.stderr = open(os.path.join(work, "chromium.log"), "wb")

        def child():
            # Out of the way first: either end may already be 3 or 4.
            r, w = os.dup(cmd_r), os.dup(res_w)
            r, w = fcntl.fcntl(r, fcntl.F_DUPFD, 10), fcntl.fcntl(w, fcntl.F_DUPFD, 10)
            os.dup2(r, 3)
            os.dup2(w, 4)
        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless=new", "--no-sandbox", "--user-data-dir=" + self.dir,
             "--no-first-run", "--no-default-browser-check", "--disable-gpu",
             "--remote-debugging-pipe", "--load-extension=" + extension_dir,
             "--disable-background-networking", "--disable-component-update",
             "--window-size=420,640", "about:blank"],
            env=_clean_env(self.home), stdin=subprocess.DEVNULL, stdout=self.stderr,
            stderr=self.stderr, close_fds=False, preexec_fn=child, start_new_session=True)
        os.close(cmd_r)
        os.close(res_w)
        self.out = cmd_w
        self.inp = res_r
        self.buf = b""
        self.next = 1
        self.pending = {}
        self.lock = threading.Lock()
        self.session = None
        self._open_page()

    def _send(self, method, params=None, session=None, timeout=120):
        with self.lock:
            mid = self.next
            self.next += 1
        msg = {"id": mid, "method": method, "params": params or {}}
        if session:
            msg["sessionId"] = session
        os.write(self.out, json.dumps(msg).encode() + b"\0")
        end = time.time() + timeout
        while True:
            while b"\0" in self.buf:
                raw, self.buf = self.buf.split(b"\0", 1)
                m = json.loads(raw)
                if m.get("id") == mid:
                    if "error" in m:
                        raise HarnessError("CDP %s: %s" % (method, m["error"]))
                    return m.get("result", {})
            left = end - time.time()
            if left <= 0:
                raise HarnessError("CDP %s: no answer in %d s" % (method, timeout))
            r, _, _ = select.select([self.inp], [], [], min(left, 1))
            if r:
                chunk = os.read(self.inp, 1 << 20)
                if not chunk:
                    raise HarnessError("Chromium closed its pipe (see chromium.log)")
                self.buf += chunk

    def _open_page(self):
        url = "chrome-extension://%s/popup.html" % self.ext_id
        end = time.time() + 30
        while True:
            # The extension loads shortly after the browser starts.
            targets = self._send("Target.getTargets")["targetInfos"]
            if any(self.ext_id in t.get("url", "") for t in targets) or time.time() > end:
                break
            time.sleep(0.2)
        tid = self._send("Target.createTarget", {"url": url})["targetId"]
        self.session = self._send("Target.attachToTarget", {"targetId": tid,
                                                            "flatten": True})["sessionId"]
        for _ in range(200):
            try:
                if self.evaluate("return document.readyState === 'complete' && "
                                 "!!(globalThis.chrome && chrome.bookmarks);", 10):
                    return
            except HarnessError:
                pass
            time.sleep(0.1)
        raise HarnessError("the extension's page did not load in Chromium")

    def evaluate(self, body, timeout=120):
        expr = "(async () => { %s })().then((v) => JSON.stringify(v === undefined ? null : v))" % body
        r = self._send("Runtime.evaluate", {"expression": expr, "awaitPromise": True,
                                            "returnByValue": True}, self.session, timeout)
        if "exceptionDetails" in r:
            d = r["exceptionDetails"]
            raise HarnessError("chromium: " + str(d.get("exception", {}).get("description")
                                                  or d.get("text")))
        return json.loads(r["result"]["value"])

    def screenshot(self, path):
        import base64
        self._send("Emulation.setDeviceMetricsOverride", {"width": 380, "height": 660,
                                                          "deviceScaleFactor": 1,
                                                          "mobile": False}, self.session)
        self._send("Page.reload", {}, self.session)
        time.sleep(1.5)
        self.evaluate(SHOW_ALL)
        data = self._send("Page.captureScreenshot", {"format": "png"}, self.session)["data"]
        open(path, "wb").write(base64.b64decode(data))

    def stop_background(self):
        """Stops the extension's service worker, as Chromium does when it idles."""
        targets = self._send("Target.getTargets")["targetInfos"]
        for t in targets:
            if t["type"] == "service_worker" and self.ext_id in t["url"]:
                sid = self._send("Target.attachToTarget", {"targetId": t["targetId"],
                                                           "flatten": True})["sessionId"]
                try:
                    self._send("Runtime.evaluate", {"expression": "close()"}, sid, 5)
                except HarnessError:
                    pass
        self._send("ServiceWorker.enable", {}, self.session)
        self._send("ServiceWorker.stopAllWorkers", {}, self.session)

    def background_running(self):
        targets = self._send("Target.getTargets")["targetInfos"]
        return any(t["type"] == "service_worker" and self.ext_id in t["url"] for t in targets)

    def quit(self):
        try:
            self._send("Browser.close", timeout=10)
        except Exception:
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()
        os.close(self.out)
        os.close(self.inp)
        self.stderr.close()


def _chromium_id(key_b64):
    import base64
    import hashlib
    digest = hashlib.sha256(base64.b64decode(key_b64)).hexdigest()[:32]
    return "".join(chr(ord("a") + int(c, 16)) for c in digest)


class Firefox(Browser):
    name = "firefox"

    def __init__(self, build, extension_dir, work, idle_timeout_ms=None, seed_html=None):
        import websocket
        self.dir = os.path.join(work, "firefox")
        self.home = os.path.join(self.dir, "home")
        os.makedirs(self.home, exist_ok=True)
        install_host(build, extension_dir, "firefox",
                     os.path.join(self.home, ".mozilla", "native-messaging-hosts"))
        prefs = {
            "extensions.webextensions.uuids": json.dumps({FIREFOX_ID: FIREFOX_UUID}),
            "browser.shell.checkDefaultBrowser": False,
            "browser.startup.homepage_override.mstone": "ignore",
            "datareporting.policy.dataSubmissionEnabled": False,
            "toolkit.telemetry.reportingpolicy.firstRun": False,
            "app.update.disabledForTesting": True,
            "browser.aboutwelcome.enabled": False,
            "extensions.autoDisableScopes": 0,
            "remote.prefs.recommended": True,
        }
        if idle_timeout_ms:
            prefs["extensions.background.idle.timeout"] = idle_timeout_ms
        if seed_html:
            prefs["browser.places.importBookmarksHTML"] = True
            prefs["browser.bookmarks.file"] = seed_html
        with open(os.path.join(self.dir, "user.js"), "w") as f:
            for k, v in prefs.items():
                f.write("user_pref(%s, %s);\n" % (json.dumps(k), json.dumps(v)))
        self.log_path = os.path.join(work, "firefox.log")
        self.stderr = open(self.log_path, "wb")
        self.proc = subprocess.Popen(
            [FIREFOX, "--headless", "--no-remote", "--profile", self.dir,
             "--remote-debugging-port=0", "--remote-allow-system-access", "about:blank"],
            env=_clean_env(self.home, {"MOZ_CRASHREPORTER_DISABLE": "1"}),
            stdin=subprocess.DEVNULL, stdout=self.stderr, stderr=self.stderr,
            start_new_session=True)
        url = None
        for _ in range(600):
            with open(self.log_path, "rb") as f:
                m = re.search(rb"WebDriver BiDi listening on (ws://[0-9.:]+)", f.read())
            if m:
                url = m.group(1).decode()
                break
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        if not url:
            raise HarnessError("Firefox did not start: " + open(self.log_path, errors="replace").read()[-2000:])
        self.ws = websocket.create_connection(url + "/session", suppress_origin=True, timeout=300)
        self.next = 1
        self._send("session.new", {"capabilities": {}})
        self._send("webExtension.install", {"extensionData": {"type": "path",
                                                              "path": extension_dir}})
        self.context = self._send("browsingContext.create", {"type": "tab"})["context"]
        self._open_page()

    def _send(self, method, params, timeout=120):
        mid = self.next
        self.next += 1
        self.ws.settimeout(timeout)
        self.ws.send(json.dumps({"id": mid, "method": method, "params": params}))
        while True:
            m = json.loads(self.ws.recv())
            if m.get("id") == mid:
                if m.get("type") == "error" or "error" in m and m.get("type") != "success":
                    raise HarnessError("BiDi %s: %s %s" % (method, m.get("error"), m.get("message")))
                return m.get("result", {})

    def _open_page(self):
        url = "moz-extension://%s/popup.html" % FIREFOX_UUID
        for _ in range(100):
            try:
                self._send("browsingContext.navigate", {"context": self.context, "url": url,
                                                        "wait": "complete"}, 30)
                if self.evaluate("return !!(globalThis.browser && browser.bookmarks);", 10):
                    return
            except HarnessError:
                pass
            time.sleep(0.2)
        raise HarnessError("the extension's page did not load in Firefox")

    def evaluate(self, body, timeout=120):
        expr = "(async () => { %s })().then((v) => JSON.stringify(v === undefined ? null : v))" % body
        r = self._send("script.evaluate", {"expression": expr, "target": {"context": self.context},
                                           "awaitPromise": True}, timeout)
        if r.get("type") == "exception":
            d = r.get("exceptionDetails", {})
            raise HarnessError("firefox: " + str(d.get("text")))
        return json.loads(r["result"]["value"])

    def screenshot(self, path):
        import base64
        self._send("browsingContext.setViewport", {"context": self.context,
                                                   "viewport": {"width": 380, "height": 660}})
        self._send("browsingContext.reload", {"context": self.context, "wait": "complete"})
        time.sleep(1.5)
        self.evaluate(SHOW_ALL)
        data = self._send("browsingContext.captureScreenshot", {"context": self.context})["data"]
        open(path, "wb").write(base64.b64decode(data))

    def quit(self):
        try:
            self._send("session.end", {}, 10)
        except Exception:
            pass
        try:
            self.ws.close()
        except Exception:
            pass
        self.proc.terminate()
        try:
            self.proc.wait(15)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()
        self.stderr.close()


STAND_INS = ("Bookmarks Menu", "Mobile Bookmarks")


def shape(node, separators=True):
    """A node as (title, url) or (title, [children]); separators as '---'."""
    if node.get("sep"):
        return "---"
    if "url" in node:
        return (node["title"], node["url"])
    kids = [shape(c, separators) for c in node["children"]
            if separators or not c.get("sep")]
    return (node["title"], kids)


def engine_layout(browser, separators=True):
    """The browser's bookmarks as the engine lays them out: menu, toolbar,
    unfiled (and mobile) -> their content, Chromium's stand-ins mapped back."""
    out = {}
    for top in browser.tree():
        name = ROOT_NAMES.get(top["id"]) or ROOT_NAMES.get(top["type"])
        kids = top["children"]
        if browser.name == "chromium" and name == "unfiled":
            for c in kids:
                if "children" in c and c["title"] == "Bookmarks Menu":
                    out["menu"] = [shape(k, separators) for k in c["children"]]
                if "children" in c and c["title"] == "Mobile Bookmarks":
                    out["mobile"] = [shape(k, separators) for k in c["children"]]
            kids = [c for c in kids if not ("children" in c and c["title"] in STAND_INS)]
        out[name] = [shape(k, separators) for k in kids if separators or not k.get("sep")]
    return {k: v for k, v in out.items() if v}


def host_processes(home):
    """The zorvane-native-host processes whose HOME is `home`."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            exe = os.readlink("/proc/%s/exe" % pid)
            if not exe.endswith("/zorvane-native-host"):
                continue
            env = open("/proc/%s/environ" % pid, "rb").read().split(b"\0")
            if ("HOME=" + home).encode() in env:
                found.append(int(pid))
        except OSError:
            pass
    return found
