#!/usr/bin/python3
"""The browser part of `make demo`: a headless Chromium and a headless Firefox,
each with its own profile and the Zorvane extension, join the demo's account
on the demo's server (the computers' bookmarks are there already), each adds
a bookmark, Chromium moves one, Firefox renames one, and both end with the
same bookmarks. Saves a screenshot of each browser's popup.

    browser_demo.py BUILD_DIR SERVER_ADDRESS USER OUT_DIR   (password in ZV_DEMO_PASSWORD)
"""
import os
import sys
import tempfile
import shutil

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser_harness as H  # noqa: E402


def outline(layout, pad="    "):
    lines = []

    def walk(items, depth):
        for i in items:
            if i == "---":
                lines.append(pad + "  " * depth + "----")
            elif isinstance(i[1], str):
                lines.append(pad + "  " * depth + "%s  <%s>" % i)
            else:
                lines.append(pad + "  " * depth + "[%s]" % i[0])
                walk(i[1], depth + 1)
    for root in ("toolbar", "menu", "unfiled", "mobile"):
        if root in layout:
            lines.append(pad + {"toolbar": "Toolbar", "menu": "Menu", "unfiled": "Other bookmarks",
                                "mobile": "Mobile"}[root])
            walk(layout[root], 1)
    return "\n".join(lines)


def say(text):
    print("\n== " + text, flush=True)


def main():
    build, address, user, out_dir = sys.argv[1:5]
    password = os.environ["ZV_DEMO_PASSWORD"]
    extension = os.path.join(build, "zorvane-extension")
    os.makedirs(out_dir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="zorvane-browser-demo.")
    chromium = firefox = None
    try:
        chromium = H.Chromium(build, extension, work)
        firefox = H.Firefox(build, extension, work)
        for b in (chromium, firefox):
            b.reset(change_delay_seconds=36000)
        cr, fr = chromium.roots(), firefox.roots()
        chromium.create(cr["toolbar"], "Chromium project", "https://www.chromium.org/")
        news = chromium.create(cr["unfiled"], "News")
        chromium.create(news, "LWN", "https://lwn.net/")
        firefox.create(fr["toolbar"], "Firefox ESR", "https://www.mozilla.org/firefox/enterprise/")
        firefox.create(fr["menu"], "Debian", "https://www.debian.org/")
        firefox.create(fr["menu"], None, separator=True)
        firefox.create(fr["menu"], "Debian wiki", "https://wiki.debian.org/")

        for b in (chromium, firefox):
            say("%s: its own bookmarks before joining the account" % b.name)
            print(outline(H.engine_layout(b)))
        for b in (chromium, firefox):
            say("%s: first sync (the account's bookmarks and its own are merged)" % b.name)
            r = b.set_account(address, user, password)["result"]
            print("    result=%s version=%s nodes=%s operations=%s" % (
                r["status"], r.get("version"), r.get("nodes"), r.get("operations")))
            if r["status"] != "OK":
                raise SystemExit("demo: %s did not sync: %s" % (b.name, r))
        chromium.sync()

        say("Each adds a bookmark; Chromium moves one, Firefox renames one")
        chromium.create(cr["toolbar"], "Added in Chromium", "https://example.org/chromium")
        firefox.create(fr["toolbar"], "Added in Firefox", "https://example.org/firefox")
        ctree = {n["title"]: n for top in chromium.tree() for n in top["children"]}
        chromium.call("move", ctree["Chromium project"]["id"], {"parentId": news})
        print("    chromium: moved \"Chromium project\" into \"News\"")
        ftree = {n.get("title"): n for top in firefox.tree() for n in top["children"]}
        firefox.call("update", ftree["Debian wiki"]["id"], {"title": "Debian Wiki (renamed)"})
        print("    firefox: renamed \"Debian wiki\" to \"Debian Wiki (renamed)\"")
        for b in (chromium, firefox, chromium):
            r = b.sync()
            print("    %-8s sync: result=%s version=%s operations=%s" % (
                b.name, r["status"], r.get("version"), r.get("operations")))

        c = H.engine_layout(chromium)
        f = H.engine_layout(firefox, separators=False)
        say("The bookmarks both browsers now have (Firefox also keeps its separator; "
            "Chromium has no menu, so the menu is the folder \"Bookmarks Menu\" there)")
        print(outline(H.engine_layout(firefox)))
        chromium.message({"cmd": "note", "action": "set", "text": "Chromium at work"})
        firefox.message({"cmd": "note", "action": "set", "text": "Firefox at home"})
        shots = []
        for b in (chromium, firefox):
            path = os.path.join(out_dir, "%s-popup.png" % b.name)
            b.screenshot(path)
            shots.append(path)
        say("Popup screenshots")
        for p in shots:
            print("    " + p)
        if c != f:
            print("demo: FAILED: the browsers ended with different bookmarks", file=sys.stderr)
            print(c, f, sep="\n", file=sys.stderr)
            return 1
        print("\nBoth browsers have the same bookmarks.")
        return 0
    finally:
        for b in (chromium, firefox):
            if b:
                b.quit()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
