#!/usr/bin/python3
"""The extension in real headless browsers: Chromium and Firefox ESR, each
launched once for this program, sync through one zorvane-server on SQLite
with the real zorvane-native-host. Bookmarks, the extension's storage and
the native host's files are reset between cases; each case has an account
of its own.

    /usr/bin/python3 extension/browser_test.py BUILD_DIR [unittest options]
"""
import collections
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import browser_harness as H  # noqa: E402

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
del sys.argv[1:2]
EXTENSION = os.path.join(BUILD, "zorvane-extension")
shape = H.shape
engine_layout = H.engine_layout


def urls(layout):
    found = []

    def walk(items):
        for i in items:
            if isinstance(i, tuple) and isinstance(i[1], str):
                found.append(i[1])
            elif isinstance(i, tuple):
                walk(i[1])
    for v in layout.values():
        walk(v)
    return found


class BrowserSync(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="zorvane-browser-test.")
        cls.server = H.Server(BUILD, cls.work)
        cls.chromium = None
        cls.firefox = None
        try:
            cls.chromium = H.Chromium(BUILD, EXTENSION, cls.work)
            # Firefox stops an idle background after 3 s (not 30), so the cases
            # also run across background restarts.
            cls.firefox = H.Firefox(BUILD, EXTENSION, cls.work, idle_timeout_ms=3000)
        except Exception:
            cls.tearDownClass()
            raise
        cls.accounts = 0

    @classmethod
    def tearDownClass(cls):
        for b in (cls.chromium, cls.firefox):
            if b:
                b.quit()
        cls.server.stop()
        if os.environ.get("ZV_KEEP_BROWSER_TEST") != "1":
            shutil.rmtree(cls.work, ignore_errors=True)
        else:
            print("kept", cls.work, file=sys.stderr)

    def setUp(self):
        type(self).accounts += 1
        self.user = "case%d" % self.accounts
        self.password = "pw-%d-secret" % self.accounts
        self.server.add_user(self.user, self.password)
        for b in (self.chromium, self.firefox):
            b.reset()

    def join(self, browser):
        r = browser.set_account(self.server.address, self.user, self.password)
        self.assertEqual(r["result"]["status"], "OK", r)
        return r["result"]

    def sync(self, browser, **kw):
        r = browser.sync(**kw)
        self.assertEqual(r["status"], "OK", "%s: %s" % (browser.name, r))
        return r

    def stored_tree(self, browser):
        """The record the native host keeps for `browser`, read by the zorvane
        program: its tree's nodes as (guid, type, title, url)."""
        profile = browser.state()["settings"]["profile"]
        base = os.path.join(browser.home, ".local", "share", "zorvane", "browser", profile)
        [account] = os.listdir(base)
        out = os.path.join(self.work, "stored.xml")
        env = dict(os.environ, ZV_PW=self.password)
        subprocess.run([os.path.join(BUILD, "bin", "zorvane"), "store", "show", "--data-dir",
                        os.path.join(base, account), "--user", self.user, "--password-env",
                        "ZV_PW", "--tree", out], check=True, env=env, stdout=subprocess.DEVNULL)
        nodes = []
        for n in ET.parse(out).iter("node"):
            nodes.append((n.findtext("guid"), n.findtext("type"), n.findtext("name"),
                          n.findtext("url")))
        return nodes

    def assert_no_duplicates(self, browser):
        nodes = self.stored_tree(browser)
        guids = collections.Counter(n[0] for n in nodes)
        self.assertEqual([g for g, c in guids.items() if c > 1], [])
        addresses = collections.Counter(n[3] for n in nodes if n[1] == "bookmark")
        self.assertEqual([u for u, c in addresses.items() if c > 1], [])
        return nodes

    def assert_same(self):
        c = engine_layout(self.chromium)
        f = engine_layout(self.firefox, separators=False)
        self.assertEqual(c, f)
        return c

    def test_first_syncs_then_edits_in_each_reach_the_other(self):
        c, f = self.chromium, self.firefox
        cr, fr = c.roots(), f.roots()
        # Small batches and pages, so the tree and the operations cross several
        # messages each.
        for b in (c, f):
            b.evaluate("const api = globalThis.browser ?? globalThis.chrome;"
                       "await api.storage.local.set({options: {changeDelaySeconds: 3600,"
                       " batch: 7, pageOps: 5}}); return 1;")
        c.create(cr["toolbar"], "Shared A", "https://a.example/")
        shared = c.create(cr["toolbar"], "Shared")
        c.create(shared, "B", "https://b.example/")
        c.create(cr["unfiled"], "C", "https://c.example/")
        for i in range(12):
            c.create(cr["unfiled"], "Many %d" % i, "https://many.example/%d" % i)
        f.create(fr["menu"], "M1", "https://m1.example/")
        f.create(fr["menu"], None, separator=True)
        f.create(fr["menu"], "M2", "https://m2.example/")
        f.create(fr["toolbar"], "A in Firefox", "https://a.example/")
        fshared = f.create(fr["toolbar"], "Shared")
        f.create(fshared, "D", "https://d.example/")
        f.create(fr["unfiled"], "E", "https://e.example/")

        # Chromium to the empty account; Firefox's first sync merges into it.
        self.assertEqual(self.join(c)["nodes"], 4 + 3 + 13)
        self.join(f)
        self.sync(c)
        both = self.assert_same()
        self.assertEqual(sorted(urls(both)), sorted(
            ["https://%s.example/" % x for x in "abcde"] + ["https://m1.example/",
             "https://m2.example/"] + ["https://many.example/%d" % i for i in range(12)]))
        self.assertEqual(engine_layout(f)["menu"],
                         [("M1", "https://m1.example/"), "---", ("M2", "https://m2.example/")])
        self.assert_no_duplicates(c)

        # Edits in Chromium: create (in the menu's stand-in), rename, move
        # across folders, delete.
        tree = {n["title"]: n for top in c.tree() for n in top["children"]}
        menu = tree["Bookmarks Menu"]["id"]
        c.create(menu, "X", "https://x.example/", index=1)
        cs = tree["Shared"]
        by_title = {k["title"]: k["id"] for k in cs["children"]}
        c.call("update", tree[both["toolbar"][0][0]]["id"], {"title": "A renamed"})
        c.call("move", tree["C"]["id"], {"parentId": cs["id"], "index": 0})
        c.call("remove", by_title["B"])
        self.assertTrue(c.state()["lastChange"] >= c.state()["syncedAt"])
        self.sync(c)
        r = self.sync(f)
        self.assertGreater(r["operations"], 0)
        self.assertEqual(r["refused"], 0)
        self.assert_same()
        # Firefox's separator and menu made it through Chromium's sync.
        self.assertEqual(engine_layout(f)["menu"],
                         [("M1", "https://m1.example/"), "---", ("X", "https://x.example/"),
                          ("M2", "https://m2.example/")])

        # Edits in Firefox.
        ftree = {n["title"]: n for top in f.tree() for n in top["children"] if "title" in n}
        f.create(fr["toolbar"], "Y", "https://y.example/")
        f.call("update", ftree["M2"]["id"], {"title": "M2 renamed"})
        f.call("move", ftree["E"]["id"], {"parentId": fr["menu"], "index": 0})
        fs = {k["title"]: k["id"] for k in ftree["Shared"]["children"]}
        f.call("remove", fs["D"])
        self.sync(f)
        self.sync(c)
        both = self.assert_same()
        self.assertEqual(engine_layout(f)["menu"],
                         [("E", "https://e.example/"), ("M1", "https://m1.example/"), "---",
                          ("X", "https://x.example/"), ("M2 renamed", "https://m2.example/")])
        self.assertEqual(both["toolbar"], [("A renamed", "https://a.example/"),
                                           ("Shared", [("C", "https://c.example/")]),
                                           ("Y", "https://y.example/")])
        nodes = self.assert_no_duplicates(f)
        self.assertEqual(len([n for n in nodes if n[1] == "separator"]), 1)
        # A sync with nothing changed sends no tree.
        r = self.sync(c)
        self.assertFalse(r["sentTree"])
        self.assertEqual(r["operations"], 0)

    def test_concurrent_edits_merge_in_either_order(self):
        c, f = self.chromium, self.firefox
        cr, fr = c.roots(), f.roots()
        folder = c.create(cr["unfiled"], "Work")
        for i in range(4):
            c.create(cr["toolbar"], "S%d" % i, "https://s%d.example/" % i)
        self.join(c)
        self.join(f)
        self.assert_same()

        def ids(b):
            return {n["title"]: n["id"] for top in b.tree() for n in top["children"]
                    if "title" in n}
        # Round 1: both edit, then Firefox, Chromium, Firefox sync.
        ci, fi = ids(c), ids(f)
        c.create(cr["toolbar"], "P", "https://p.example/")
        c.call("update", ci["S0"], {"title": "S0 from Chromium"})
        f.create(fr["unfiled"], "Q", "https://q.example/")
        f.call("move", fi["S1"], {"parentId": fi["Work"]})
        f.call("remove", fi["S2"])
        self.sync(f)
        self.sync(c)
        self.sync(f)
        both = self.assert_same()
        self.assertEqual(both["toolbar"], [("S0 from Chromium", "https://s0.example/"),
                                           ("S3", "https://s3.example/"),
                                           ("P", "https://p.example/")])
        self.assertEqual(both["unfiled"], [("Work", [("S1", "https://s1.example/")]),
                                           ("Q", "https://q.example/")])
        # Round 2: the other order.
        ci, fi = ids(c), ids(f)
        c.call("remove", ci["Q"])
        c.create(folder, "R", "https://r.example/")
        f.call("update", fi["P"], {"title": "P from Firefox"})
        f.create(fr["menu"], "Z", "https://z.example/")
        self.sync(c)
        self.sync(f)
        self.sync(c)
        both = self.assert_same()
        self.assertEqual(both["unfiled"], [("Work", [("S1", "https://s1.example/"),
                                                     ("R", "https://r.example/")])])
        self.assertIn(("P from Firefox", "https://p.example/"), both["toolbar"])
        self.assertEqual(both["menu"], [("Z", "https://z.example/")])
        self.assert_no_duplicates(c)

    def test_mass_deletion_asks_and_keep_brings_them_back(self):
        c = self.chromium
        r = c.roots()
        made = [c.create(r["unfiled"], "K%d" % i, "https://k%d.example/" % i) for i in range(10)]
        self.join(c)
        for bid in made[:8]:
            c.call("remove", bid)
        out = c.sync()
        self.assertEqual(out["status"], "mass_delete")
        self.assertEqual(out["question"], {"removed": 8, "total": 10})
        self.assertEqual(c.state()["question"], {"removed": 8, "total": 10})
        # The popup shows the question with its two answers.
        shown = c.evaluate("""
            await render();
            return [document.getElementById('question').hidden,
                    ...['question-text', 'delete', 'keep'].map(
                        (id) => document.getElementById(id).textContent)];
        """)
        self.assertEqual(shown, [False, "This sync would delete 8 of 10 bookmarks.",
                                 "Delete them", "Keep them and sync the rest back"])
        self.sync(c, choice="keep")
        self.assertTrue(c.evaluate("await render(); "
                                   "return document.getElementById('question').hidden;"))
        self.assertEqual(len(engine_layout(c)["unfiled"]), 10)
        self.assertIsNone(c.state()["question"])
        for n in c.tree()[1]["children"][:8]:
            c.call("remove", n["id"])
        self.assertEqual(c.sync()["status"], "mass_delete")
        self.sync(c, choice="delete")
        self.assertEqual(len([n for n in self.stored_tree(c) if n[1] == "bookmark"]), 2)

    def wait_for(self, what, check, seconds=120):
        """Polls `check` until it returns something true; that value."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            got = check()
            if got:
                return got
            time.sleep(0.2)
        self.fail("%s: not within %d s" % (what, seconds))

    def last_result(self, browser, reason):
        r = browser.stored("lastResult").get("lastResult")
        return r if r and r.get("reason") == reason else None

    def test_pending_sync_survives_the_background_stopping(self):
        c, f = self.chromium, self.firefox
        # Firefox: a change, then its background idles out (after 3 s) before
        # the change's alarm (4 s) wakes it for the sync.
        self.join(f)
        f.set_options(changeDelaySeconds=4)
        f.create(f.roots()["menu"], "Firefox idle", "https://idle.example/")

        # Chromium: a few thousand bookmarks with long addresses (over 3 MB of
        # records, so the tree takes several messages by size, not by count).
        count = 3000
        tail = "&q=" + "x" * 1000
        wanted = ["https://long.example/%d?%s" % (i, tail) for i in range(count)]
        c.evaluate("""
            const api = globalThis.browser ?? globalThis.chrome;
            const [root] = await api.bookmarks.getTree();
            for (let k = 0; k < 3; k++) {
                const folder = await api.bookmarks.create(
                    {parentId: root.children[k %% 2].id, title: 'Long ' + k});
                for (let i = k; i < %d; i += 3)
                    await api.bookmarks.create({parentId: folder.id, title: 'L' + i,
                                                url: 'https://long.example/' + i + '?%s'});
            }
            return 1;
        """ % (count, tail))
        r = self.join(c)
        self.assertTrue(r["sentTree"])
        self.assertEqual(r["status"], "OK")
        r = self.wait_for("Firefox's sync on its alarm", lambda: self.last_result(f, "change"), 60)
        self.assertEqual(r["status"], "OK", r)

        # The profile starts over (the extension reinstalled): its first sync
        # creates every bookmark, a few at a time, and the background is
        # stopped part-way through.
        c.reset()
        c.set_options(pageOps=10)
        c.message_later({"cmd": "setAccount", "server": self.server.address, "user": self.user,
                         "password": self.password})
        self.wait_for("the apply under way", lambda: c.bookmark_count() >= 100, 60)
        c.stop_background()
        self.assertFalse(c.background_running())
        made = c.bookmark_count()
        self.assertLess(made, count)
        self.wait_for("the native host's exit", lambda: H.host_processes(c.home) == [], 30)
        st = c.stored("pending", "applyingSince", "lastResult")
        self.assertEqual(st["pending"]["reason"], "account")
        self.assertIn("applyingSince", st)
        self.assertNotIn("lastResult", st)
        # The background's next start takes the pending sync up again.
        c.set_options(pageOps=0)
        c.state()
        r = self.wait_for("the resumed sync", lambda: self.last_result(c, "resume"))
        self.assertEqual(r["status"], "OK", r)
        layout = engine_layout(c)
        self.assertEqual(layout["menu"], [("Firefox idle", "https://idle.example/")])
        self.assertEqual(sorted(urls(layout)), sorted(wanted + ["https://idle.example/"]))
        nodes = self.assert_no_duplicates(c)
        self.assertEqual(len([n for n in nodes if n[1] == "bookmark"]), count + 1)
        self.assertIsNone(c.stored("pending")["pending"])

        # A change, then the background stops before the change's alarm.
        c.set_options(changeDelaySeconds=4)
        c.create(c.roots()["toolbar"], "While stopped", "https://stopped.example/")
        # The change's alarm is set (not one set earlier for an hour) before
        # the background stops.
        self.wait_for("the change's alarm", lambda: c.evaluate(
            "const api = globalThis.browser ?? globalThis.chrome;"
            "const a = await api.alarms.get('zorvane-change');"
            "return !!a && a.scheduledTime < Date.now() + 60000;"), 30)
        c.stop_background()
        self.assertFalse(c.background_running())
        r = self.wait_for("Chromium's sync on its alarm", lambda: self.last_result(c, "change"), 60)
        self.assertEqual(r["status"], "OK", r)
        self.assertIn(("While stopped", "https://stopped.example/"), engine_layout(c)["toolbar"])
        # No native host outlives its port.
        self.wait_for("the native hosts' exit",
                      lambda: H.host_processes(c.home) + H.host_processes(f.home) == [], 30)

    def test_a_sync_ends_when_a_bookmark_is_too_large_or_the_host_is_silent(self):
        c = self.chromium
        r = c.roots()
        c.create(r["toolbar"], "Small", "https://small.example/")
        huge = c.create(r["unfiled"], "Huge", "data:text/plain," + "x" * (1200 * 1024))
        # Too large for one message to the host: the sync fails before it
        # sends anything, naming the bookmark.
        out = c.set_account(self.server.address, self.user, self.password)["result"]
        self.assertEqual(out["status"], "too_large", out)
        self.assertIn('"Huge"', out["message"])
        self.assertFalse(c.state()["running"])
        # Sent all the same, the host refuses the message: the answer without
        # an id ends the sync.
        c.set_options(maxMessage=64 << 20)
        out = c.sync()
        self.assertEqual(out["status"], "bad_frame", out)
        self.assertIn("over the limit of 1048576", out["message"])
        c.call("remove", huge)
        c.set_options(maxMessage=1 << 20)
        self.sync(c)
        self.assertEqual(engine_layout(c), {"toolbar": [("Small", "https://small.example/")]})

        # A host that does not answer (another one holds the account): the
        # call's time limit ends the sync.
        profile = c.state()["settings"]["profile"]
        base = os.path.join(c.home, ".local", "share", "zorvane", "browser", profile)
        [account] = os.listdir(base)
        with open(os.path.join(base, account, ".lock"), "rb") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            c.set_options(callSeconds=2)
            out = c.sync()
            self.assertEqual(out["status"], "timeout", out)
            self.assertIn('"open"', out["message"])
            self.assertFalse(c.state()["running"])
        c.set_options(callSeconds=180)
        self.sync(c)


if __name__ == "__main__":
    unittest.main(verbosity=2)
