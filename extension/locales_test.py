#!/usr/bin/python3
"""Every result the popup can be shown has a text in every locale: the
extension's own results and errors (sync.js, popup.js), the native host's
error codes (native_host/*.cc), and the engine's status keys. Every locale
also has the same messages, with the same placeholders, as the English one.

    python3 extension/locales_test.py
"""
import glob
import json
import os
import re
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def found(paths, *patterns):
    codes = set()
    for p in paths:
        text = read(p)
        for pattern in patterns:
            for m in re.findall(pattern, text, re.S):
                codes.update(c for c in (m if isinstance(m, tuple) else (m,)) if c)
    return codes


def host_codes():
    """The codes of the native host's error answers."""
    paths = [p for p in glob.glob(os.path.join(SOURCE, "native_host", "*.cc"))
             if not p.endswith("_test.cc")]
    return found(paths, r'call_error\{\s*"(\w+)"', r'\bfail\(\s*[\w>.-]+,\s*"(\w+)"')


def engine_codes():
    """The engine's status keys, as the popup shortens them ("OK" too)."""
    paths = [p for p in glob.glob(os.path.join(SOURCE, "engine", "**", "*.*"), recursive=True)
             if p.endswith((".cc", ".h")) and "_test" not in os.path.basename(p)]
    return found(paths, r"zorvane\.kernel\.status\.(\w+)") | {"OK"}


def extension_codes():
    """What the background records as a result and the popup shows itself."""
    return found([os.path.join(HERE, "sync.js")],
                 r"status: (?:[\w.]+ \? )?'(\w+)'(?: : '(\w+)')?",
                 r"status: [\w.]+ \|\| '(\w+)'", r"failure\((?:[\w.]+ \|\| )?'(\w+)'") | found(
        [os.path.join(HERE, "popup.js")], r"t\('status_(\w+)'",
        r"statusText\([^()]*\? '(\w+)' : '(\w+)'\)")


def placeholders(message):
    return sorted(re.findall(r"\$(\w+)\$", message["message"]))


class StatusTexts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.locales = {}
        for p in sorted(glob.glob(os.path.join(HERE, "_locales", "*", "messages.json"))):
            cls.locales[os.path.basename(os.path.dirname(p))] = json.loads(read(p))

    def test_every_result_has_a_text_in_every_locale(self):
        sources = {"native host": host_codes(), "engine": engine_codes(),
                   "extension": extension_codes()}
        # The patterns still find what they are meant to.
        for name, want in (("native host", {"bad_frame", "busy", "too_large", "no_tree"}),
                           ("engine", {"connect_failed", "too_large", "idle"}),
                           ("extension", {"host_missing", "timeout", "mass_delete", "running"})):
            self.assertLessEqual(want, sources[name], name)
        self.assertGreaterEqual(set(self.locales), {"en", "de"})
        for locale, messages in self.locales.items():
            for name, codes in sources.items():
                missing = sorted(c for c in codes if "status_" + c not in messages)
                self.assertEqual(missing, [], "%s: the %s's results without a text"
                                 % (locale, name))

    def test_every_locale_has_the_english_messages(self):
        english = self.locales["en"]
        for locale, messages in self.locales.items():
            self.assertEqual(sorted(messages), sorted(english), locale)
            for key, m in messages.items():
                self.assertTrue(m["message"].strip(), "%s: %s" % (locale, key))
                self.assertEqual(placeholders(m), placeholders(english[key]),
                                 "%s: %s" % (locale, key))


if __name__ == "__main__":
    unittest.main(verbosity=2)
