#!/usr/bin/python3
"""The extension in real headless browsers: Chromium and Firefox ESR, each
launched once for this program, sync through one zorvane-server on SQLite
with the real zorvane-native-host. Bookmarks, the extension's storage and
the native host's files are reset between cases; each case has an account
of its own.

    /usr/bin/python3 extension/browser_test.py BUILD_DIR [unittest options]
"""
import collections
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
        self.sync(c, choice="keep")
        self.assertEqual(len(engine_layout(c)["unfiled"]), 10)
        self.assertIsNone(c.state()["question"])
        for n in c.tree()[1]["children"][:8]:
            c.call("remove", n["id"])
        self.assertEqual(c.sync()["status"], "mass_delete")
        self.sync(c, choice="delete")
        self.assertEqual(len([n for n in self.stored_tree(c) if n[1] == "bookmark"]), 2)

    def test_pending_sync_survives_the_background_stopping(self):
        c, f = self.chromium, self.firefox
        self.join(c)
        self.join(f)
        for b in (c, f):
            b.evaluate("const api = globalThis.browser ?? globalThis.chrome;"
                       "await api.storage.local.set({options: {changeDelaySeconds: 4}});"
                       "return 1;")
        c.create(c.roots()["toolbar"], "While stopped", "https://stopped.example/")
        f.create(f.roots()["menu"], "Firefox idle", "https://idle.example/")
        c.stop_background()
        # The alarm wakes each background, whose sync takes the dirty mark.
        deadline = time.time() + 60
        done = set()
        while time.time() < deadline and len(done) < 2:
            time.sleep(1)
            for b in (c, f):
                st = b.evaluate("const api = globalThis.browser ?? globalThis.chrome;"
                                "return (await api.storage.local.get('lastResult')).lastResult"
                                " || null;")
                if st and st.get("reason") == "change" and st.get("status") == "OK":
                    done.add(b.name)
        self.assertEqual(done, {"chromium", "firefox"})
        self.sync(c)
        self.sync(f)
        both = self.assert_same()
        self.assertIn(("While stopped", "https://stopped.example/"), both["toolbar"])
        self.assertIn(("Firefox idle", "https://idle.example/"), both["menu"])
        # No native host outlives its port.
        time.sleep(1)
        self.assertEqual(H.host_processes(c.home) + H.host_processes(f.home), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
