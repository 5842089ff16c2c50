// End-to-end sync through the real programs: a zorvane-server process on a
// SQLite store, and the zorvane program (which loads the component) syncing
// a browser's bookmark export against it: 50,000 bookmarks, then 200,000
// (or the one size given). Titles and addresses are varied (a made-up
// vocabulary, tokens, tracking parameters; fixed seeds), so a collection
// packs to about a fifth of its tree document, as people's do.
//
// Each repetition uses its own accounts and fresh data directories:
//
//   first sync       directory A, empty account: `sync --format html` of the export
//   no-change sync   directory A, the same file again
//   merge sync       directory B: the second computer's first sync of a slightly
//                    different export (the account holds A's tree: brought in,
//                    merged, synced)
//   update           directory A brings in B's version
//   xml first sync / xml no-change sync: the same bookmarks as a tree document
//
// For every step it prints the median and maximum over the repetitions of
// the wall time, the zorvane process's processor time (user + system, from
// wait4) and its peak resident memory (ru_maxrss), with the server's
// processor time during the step; then the server's peak resident memory
// (VmHWM, one server per size) and the machine's load. Targets, by size:
// 50,000 bookmarks: first sync under 3 s, no-change sync under 1 s, client
// memory under 300 MB; 200,000: first sync at most 6 s, no-change sync at
// most 2 s, client and server memory at most 600 MB each. A missed target is
// printed as MISS; the exit status is 0 unless a step fails (result other
// than OK, wrong node count).
//
//   sync_e2e_bench [BOOKMARKS [REPEATS]] [--keep]
//
// --keep leaves the temporary directory (files, store, data directories)
// in place for running the steps by hand; REPEATS 0 only prepares it.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bookmarks/bookmarks_html.h"
#include "platform/child_process.h"
#include "server_process_testing.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "correct horse battery staple";

// ---------------------------------------------------------------------------
// The bookmarks: a deterministic model written as bookmark-file HTML (the
// way browsers export it) and as a tree document.

class random_t {
public:
    explicit random_t(std::uint64_t seed) : m_state(seed ? seed : 1) {}
    std::uint64_t next() {
        // xorshift64*
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 2685821657736338717ull;
    }
    int below(int n) {
        return n <= 0 ? 0 : static_cast<int>(next() % static_cast<std::uint64_t>(n));
    }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool chance(int percent) { return below(1000) < percent * 10; }
    bool per_mille(int n) { return below(1000) < n; }
    template <class T, std::size_t N>
    const T& pick(const T (&items)[N]) {
        return items[below(static_cast<int>(N))];
    }

private:
    std::uint64_t m_state;
};

enum class kind_t { FOLDER, BOOKMARK, FEED, SEPARATOR };

struct item_t {
    kind_t kind = kind_t::BOOKMARK;
    std::string guid;  // the tree document's identifier
    std::string title, url, feed_url, keyword, tags, description;
    std::int64_t added = 0, modified = 0;  // seconds
    bool icon = false;
    std::vector<item_t> children;
};

struct bookmarks_t {
    item_t menu, toolbar, unfiled;
};

const char* const kWords[] = {
    "News",        "Recipes",   "Docs",       "Reference",    "How to",    "Guide",
    "Weather",     "Travel",    "Music",      "Photos",       "Shopping",  "Banking",
    "Kernel",      "Compiler",  "Garden",     "Football",     "Chess",     "Maps",
    "Café crème",  "Übersicht", "Résumé",     "naïve façade", "São Paulo", "Zürich",
    "Ærø",         "Łódź",      "日本語",     "東京の天気",   "中文新闻",  "한국어 뉴스",
    "Привет мир",  "Ελληνικά",  "עברית",      "العربية",      "हिन्दी",     "ไทย",
    "Tom & Jerry", "a < b > c", "\"quoted\"", "it's fine",    "🎉 party",   "𝔘𝔫𝔦𝔠𝔬𝔡𝔢",
    "C++20",       "Rust",      "SQL tuning", "Linux",        "Books",     "Films",
};
const char* const kHosts[] = {
    "www.example.com",  "news.example.org",      "docs.example.net",      "en.wikipedia.example",
    "blog.example.io",  "shop.example.co.uk",    "xn--bcher-kva.example", "www.xn--fiqs8s.example",
    "forum.example.de", "maps.example.com",      "video.example.tv",      "mail.example.com",
    "github.example",   "stackoverflow.example", "recipes.example.fr",    "ftp.example.org",
};
const char* const kPathWords[] = {
    "article",
    "wiki",
    "questions",
    "watch",
    "p",
    "products",
    "2021",
    "2023",
    "en",
    "de",
    "%E6%97%A5%E6%9C%AC",
    "caf%C3%A9",
    "index.html",
    "docs",
    "reference",
    "tag",
};
const char* const kTags[] = {"news",   "tech",  "read later", "work", "recipes",
                             "travel", "ideas", "étude",      "日本"};

// A vocabulary of made-up words (syllables of a few letters), so titles and
// addresses vary the way real ones do rather than repeating a short list:
// a collection of them packs to about a third of its size, as people's
// collections do. The multilingual words above come in now and then.
class vocabulary_t {
public:
    vocabulary_t() {
        random_t r(7177);
        for (int i = 0; i < 40000; ++i) m_words.push_back(fresh_word(r));
        static const char* const kTlds[] = {".com",   ".org", ".net", ".io",   ".de",     ".fr",
                                            ".co.uk", ".jp",  ".dev", ".info", ".example"};
        static const char* const kSubs[] = {"www.",  "",   "",    "blog.",  "docs.", "news.",
                                            "shop.", "m.", "en.", "forum.", "api."};
        for (int i = 0; i < 6000; ++i) {
            std::string h = r.pick(kSubs) + word(r);
            if (r.chance(30)) h += "-" + word(r);
            h += r.pick(kTlds);
            if (r.per_mille(20)) h = "xn--" + word(r) + "-" + word(r).substr(0, 3) + ".example";
            m_hosts.push_back(std::move(h));
        }
    }
    // A word made up on the spot: names, brands and jargon nobody repeats.
    static std::string fresh_word(random_t& r) {
        static const char* const kOnsets[] = {"b",  "c",  "d",  "f",  "g",  "h",  "j",  "k",
                                              "l",  "m",  "n",  "p",  "r",  "s",  "t",  "v",
                                              "w",  "z",  "br", "ch", "cl", "dr", "fl", "gr",
                                              "pl", "pr", "sh", "st", "th", "tr", "qu", ""};
        static const char* const kVowels[] = {"a",  "e",  "i",  "o",  "u",  "y",  "ai",
                                              "ea", "ee", "io", "oo", "ou", "ia", "ue"};
        static const char* const kCodas[] = {"",  "",  "",   "n",  "r",  "s",  "t",  "l",
                                             "m", "x", "ng", "ck", "st", "rd", "nd", "sh"};
        std::string w;
        const int syllables = r.between(1, 3);
        for (int s = 0; s < syllables; ++s) {
            w += r.pick(kOnsets);
            w += r.pick(kVowels);
            w += r.pick(kCodas);
        }
        return w;
    }
    // A word of the vocabulary, now and then a fresh one.
    std::string any_word(random_t& r) const { return r.chance(60) ? fresh_word(r) : word(r); }
    const std::string& word(random_t& r) const {
        return m_words[static_cast<std::size_t>(r.below(static_cast<int>(m_words.size())))];
    }
    // Hosts are visited unevenly: a few sites hold many of the bookmarks.
    const std::string& host(random_t& r) const {
        const int n = static_cast<int>(m_hosts.size());
        const int pick = r.chance(50) ? r.below(n / 50) : r.below(n);
        return m_hosts[static_cast<std::size_t>(pick)];
    }

private:
    std::vector<std::string> m_words;
    std::vector<std::string> m_hosts;
};

const vocabulary_t& vocabulary() {
    static const vocabulary_t v;
    return v;
}

std::string capitalised(std::string w) {
    if (!w.empty() && w[0] >= 'a' && w[0] <= 'z') w[0] = static_cast<char>(w[0] - 'a' + 'A');
    return w;
}

std::string title_of(random_t& r) {
    const vocabulary_t& v = vocabulary();
    std::string t;
    const int words = r.between(1, 6);
    for (int i = 0; i < words; ++i) {
        if (i > 0) t += r.chance(8) ? " – " : (r.chance(5) ? ": " : " ");
        if (r.chance(12)) {
            t += r.pick(kWords);
        } else {
            t += i == 0 || r.chance(30) ? capitalised(v.any_word(r)) : v.any_word(r);
        }
    }
    if (r.chance(30)) t += " " + std::to_string(r.between(1, 9999));
    if (r.chance(40)) t += " | " + capitalised(v.word(r));
    return t;
}

std::string token_of(random_t& r, int length) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string t;
    for (int i = 0; i < length; ++i) t += kChars[r.below(62)];
    return t;
}

std::string url_of(random_t& r, long serial) {
    if (r.per_mille(1))
        return "javascript:(function(){alert('bookmarklet%20" + std::to_string(serial) + "')})()";
    if (r.per_mille(1)) return "place:sort=8&maxResults=10&serial=" + std::to_string(serial);
    const vocabulary_t& v = vocabulary();
    const std::string& host = r.per_mille(30) ? std::string(r.pick(kHosts)) : v.host(r);
    std::string u =
        (host.rfind("ftp.", 0) == 0 ? "ftp://" : (r.chance(85) ? "https://" : "http://")) + host;
    if (r.per_mille(5)) u += ":8080";
    const int depth = r.between(1, 3);
    for (int i = 0; i < depth; ++i) {
        u += "/";
        if (r.chance(10)) {
            u += r.pick(kPathWords);
        } else if (r.chance(15)) {
            u += std::to_string(r.below(100000));
        } else {
            const int words = r.between(1, 4);
            for (int w = 0; w < words; ++w) u += (w ? "-" : "") + v.any_word(r);
        }
    }
    if (r.chance(60)) u += "/" + token_of(r, r.between(8, 16));
    u += "/" + std::to_string(serial);
    if (r.chance(35)) {
        u += "?id=" + std::to_string(r.below(1000000)) + "&lang=" + (r.chance(50) ? "en" : "fr");
        if (r.chance(60)) u += "&ref=" + token_of(r, r.between(8, 24));
    }
    // Shared and search links carry long tracking or signature tokens.
    if (r.chance(45)) {
        u += (u.find('?') == std::string::npos ? "?" : "&");
        u += r.chance(50) ? "utm_source=" + v.word(r) + "&fbclid=" : "sig=";
        u += token_of(r, r.between(20, 90));
    }
    if (r.chance(5)) u += "#section-" + std::to_string(r.below(20));
    return u;
}

std::int64_t date_of(random_t& r) { return 1230768000 + r.below(15 * 365 * 86400); }  // 2009–2024

class generator_t {
public:
    explicit generator_t(std::uint64_t seed) : m_r(seed) {}

    item_t bookmark() {
        item_t b;
        b.guid = "b" + std::to_string(++m_serial);
        b.title = m_r.per_mille(2) ? std::string() : title_of(m_r);  // a few untitled ones
        b.url = url_of(m_r, m_serial);
        if (b.title.empty()) b.title = b.url;  // what the reader makes of an empty title
        b.added = date_of(m_r);
        if (m_r.chance(50)) b.modified = b.added + m_r.below(86400 * 400);
        b.icon = m_r.chance(15);
        if (m_r.per_mille(2)) b.keyword = "kw" + std::to_string(m_serial);
        if (m_r.chance(5)) b.tags = std::string(m_r.pick(kTags)) + "," + m_r.pick(kTags);
        if (m_r.chance(12)) b.description = title_of(m_r) + " — " + title_of(m_r);
        if (m_r.per_mille(1)) {
            b.kind = kind_t::FEED;
            b.feed_url = "https://" + std::string(m_r.pick(kHosts)) + "/feed/" +
                         std::to_string(m_serial) + ".xml";
        }
        return b;
    }

    item_t folder() {
        item_t f;
        f.kind = kind_t::FOLDER;
        f.guid = "f" + std::to_string(++m_serial);
        f.title = title_of(m_r);
        f.added = date_of(m_r);
        f.modified = f.added + m_r.below(86400 * 800);
        if (m_r.chance(5)) f.description = title_of(m_r);
        return f;
    }

    item_t separator() {
        item_t s;
        s.kind = kind_t::SEPARATOR;
        s.guid = "s" + std::to_string(++m_serial);
        return s;
    }

    // Puts `budget` bookmarks into `f`: some directly, the rest in up to
    // four subfolders, at most `max_depth` levels further down.
    void fill(item_t& f, int depth, int max_depth, int budget) {
        int direct = std::min(budget, m_r.between(5, 60));
        if (depth >= max_depth) direct = budget;
        int rest = budget - direct;
        const int subfolders = rest > 0 ? std::min(rest, m_r.between(1, 4)) : 0;
        for (int i = 0; i < subfolders; ++i) {
            item_t sub = folder();
            const int share = i + 1 == subfolders ? rest
                                                  : m_r.between(rest / (subfolders - i) / 2,
                                                                rest / (subfolders - i));
            rest -= share;
            fill(sub, depth + 1, max_depth, share);
            f.children.push_back(std::move(sub));
        }
        if (subfolders > 0 && m_r.chance(40)) f.children.push_back(separator());
        for (int i = 0; i < direct; ++i) {
            f.children.push_back(bookmark());
            if (m_r.per_mille(8)) f.children.push_back(separator());
        }
    }

    bookmarks_t make(int count) {
        bookmarks_t b;
        b.menu.kind = b.toolbar.kind = b.unfiled.kind = kind_t::FOLDER;
        b.menu.title = "Bookmarks Menu";
        b.toolbar.title = "Bookmarks Toolbar";
        b.unfiled.title = "Other Bookmarks";
        b.toolbar.added = b.unfiled.added = 1230768000;
        b.toolbar.modified = b.unfiled.modified = 1700000000;
        // The toolbar: a few bookmarks and folders of links.
        const int toolbar = std::min(count, std::max(1, count / 50));
        int toolbar_direct = std::min(toolbar, 25);
        for (int i = 0; i < toolbar_direct; ++i) b.toolbar.children.push_back(bookmark());
        for (int left = toolbar - toolbar_direct; left > 0;) {
            item_t f = folder();
            const int share = std::min(left, m_r.between(20, 200));
            fill(f, 1, 2, share);
            left -= share;
            b.toolbar.children.push_back(std::move(f));
        }
        // The unfiled folder: one long flat list, as it usually is.
        const int unfiled = (count - toolbar) / 10;
        for (int i = 0; i < unfiled; ++i) b.unfiled.children.push_back(bookmark());
        // The menu: topic folders a few levels deep.
        for (int left = count - toolbar - unfiled; left > 0;) {
            item_t f = folder();
            const int share = std::min(left, m_r.between(200, 2500));
            fill(f, 1, 2, share);
            left -= share;
            b.menu.children.push_back(std::move(f));
            if (m_r.chance(10)) b.menu.children.push_back(separator());
        }
        return b;
    }

    // A second computer's export of mostly the same bookmarks: some removed,
    // some added, some renamed.
    void vary(item_t& f, int depth) {
        for (auto it = f.children.begin(); it != f.children.end();) {
            if (it->kind == kind_t::FOLDER) {
                vary(*it, depth + 1);
                ++it;
            } else if (it->kind == kind_t::BOOKMARK && m_r.per_mille(5)) {
                it = f.children.erase(it);
            } else {
                if (it->kind == kind_t::BOOKMARK && m_r.per_mille(4)) it->title += " (2)";
                ++it;
            }
        }
        if (m_r.chance(depth == 0 ? 100 : 3)) {
            const int added = m_r.between(1, 12);
            for (int i = 0; i < added; ++i) f.children.push_back(bookmark());
        }
    }

private:
    random_t m_r;
    long m_serial = 0;
};

struct counts_t {
    long folders = 0, bookmarks = 0, separators = 0;
    long nodes() const { return folders + bookmarks + separators; }
};

void count(const item_t& f, counts_t& c) {
    for (const item_t& i : f.children) {
        if (i.kind == kind_t::FOLDER) {
            ++c.folders;
            count(i, c);
        } else if (i.kind == kind_t::SEPARATOR) {
            ++c.separators;
        } else {
            ++c.bookmarks;
        }
    }
}

// A small PNG as browsers put it into ICON: about 600 bytes of base64.
std::string icon_data(long serial) {
    static const char b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out = "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAABAAAAAQCAYAAAAf8/9h";
    random_t r(static_cast<std::uint64_t>(serial) * 7919 + 17);
    for (int i = 0; i < 560; ++i) out += b64[r.below(64)];
    return out + "AAAAAElFTkSuQmCC";
}

void write_html_items(const item_t& f, int depth, std::string& out);

void write_html_item(const item_t& i, int depth, const char* mark, std::string& out) {
    const std::string pad(static_cast<std::size_t>(depth) * 4, ' ');
    if (i.kind == kind_t::FOLDER) {
        out += pad + "<DT><H3 ADD_DATE=\"" + std::to_string(i.added) + "\" LAST_MODIFIED=\"" +
               std::to_string(i.modified) + "\"" + mark + ">" +
               Core_ZorvaneMerge::html_escape(i.title) + "</H3>\n";
        if (!i.description.empty())
            out += pad + "<DD>" + Core_ZorvaneMerge::html_escape(i.description) + "\n";
        out += pad + "<DL><p>\n";
        write_html_items(i, depth + 1, out);
        out += pad + "</DL><p>\n";
    } else if (i.kind == kind_t::SEPARATOR) {
        out += pad + "<HR>\n";
    } else {
        out += pad + "<DT><A HREF=\"" + Core_ZorvaneMerge::html_escape(i.url) + "\" ADD_DATE=\"" +
               std::to_string(i.added) + "\"";
        if (i.modified) out += " LAST_MODIFIED=\"" + std::to_string(i.modified) + "\"";
        if (i.kind == kind_t::FEED)
            out += " FEEDURL=\"" + Core_ZorvaneMerge::html_escape(i.feed_url) + "\"";
        if (i.icon) {
            out += " ICON_URI=\"" +
                   Core_ZorvaneMerge::html_escape(i.url.substr(0, i.url.find('/', 8))) +
                   "/favicon.ico\" ICON=\"" + icon_data(static_cast<long>(i.added)) + "\"";
        }
        if (!i.keyword.empty())
            out += " SHORTCUTURL=\"" + Core_ZorvaneMerge::html_escape(i.keyword) + "\"";
        if (!i.tags.empty()) out += " TAGS=\"" + Core_ZorvaneMerge::html_escape(i.tags) + "\"";
        out += ">" + Core_ZorvaneMerge::html_escape(i.title) + "</A>\n";
        if (!i.description.empty())
            out += pad + "<DD>" + Core_ZorvaneMerge::html_escape(i.description) + "\n";
    }
}

void write_html_items(const item_t& f, int depth, std::string& out) {
    for (const item_t& i : f.children) write_html_item(i, depth, "", out);
}

std::string html_of(const bookmarks_t& b) {
    std::string out =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
        "<!-- This is an automatically generated file.\n"
        "     It will be read and overwritten.\n"
        "     DO NOT EDIT! -->\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'self'; "
        "script-src 'none'; img-src data: *; object-src 'none'\"></meta>\n"
        "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks Menu</H1>\n\n<DL><p>\n";
    write_html_item(b.toolbar, 1, " PERSONAL_TOOLBAR_FOLDER=\"true\"", out);
    write_html_items(b.menu, 1, out);
    write_html_item(b.unfiled, 1, " UNFILED_BOOKMARKS_FOLDER=\"true\"", out);
    out += "</DL>\n";
    return out;
}

void write_xml_node(const item_t& i, const std::string& guid, int depth, std::string& out) {
    const std::string pad(static_cast<std::size_t>(depth) * 2, ' ');
    const char* type = i.kind == kind_t::FOLDER      ? "folder"
                       : i.kind == kind_t::FEED      ? "feed"
                       : i.kind == kind_t::SEPARATOR ? "separator"
                                                     : "bookmark";
    out += pad + "<node>\n";
    out += pad + "  <guid>" + Core_ZorvaneMerge::html_escape(guid) + "</guid>\n";
    out += pad + "  <type>" + type + "</type>\n";
    out += pad + "  <name>" + Core_ZorvaneMerge::html_escape(i.title) + "</name>\n";
    out += pad + "  <description>" + Core_ZorvaneMerge::html_escape(i.description) +
           "</description>\n";
    out += pad + "  <keyword>" + Core_ZorvaneMerge::html_escape(i.keyword) + "</keyword>\n";
    out += pad + "  <tag>" + Core_ZorvaneMerge::html_escape(i.tags) + "</tag>\n";
    out += pad + "  <url>" + Core_ZorvaneMerge::html_escape(i.url) + "</url>\n";
    out += pad + "  <feedurl>" + Core_ZorvaneMerge::html_escape(i.feed_url) + "</feedurl>\n";
    out += pad + "  <created>" + std::to_string(i.added * 1000000) + "</created>\n";
    out += pad + "  <modified>" + std::to_string(i.modified * 1000000) + "</modified>\n";
    if (!i.children.empty()) {
        out += pad + "  <children>\n";
        for (const item_t& c : i.children) write_xml_node(c, c.guid, depth + 2, out);
        out += pad + "  </children>\n";
    }
    out += pad + "</node>\n";
}

std::string xml_of(const bookmarks_t& b) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<nodeset>\n";
    out +=
        "  <node>\n    <guid>ROOT</guid>\n    <type>folder</type>\n    <name>root</name>\n"
        "    <children>\n";
    write_xml_node(b.menu, "BOOKMARK_MENU", 3, out);
    write_xml_node(b.toolbar, "BOOKMARK_TOOLBAR", 3, out);
    write_xml_node(b.unfiled, "BOOKMARK_UNFILED", 3, out);
    out += "    </children>\n  </node>\n</nodeset>\n";
    return out;
}

bool write_text(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

struct files_t {
    long first_nodes = 0;   // nodes of the first export's tree, root included
    long second_nodes = 0;  // of the second computer's export
    long first_bookmarks = 0;
    std::uintmax_t html_bytes = 0, xml_bytes = 0, second_bytes = 0;
};

// Writes first.html, first.xml and second.html into `dir`. Runs in a child
// process, so the bench's own memory stays small: a forked zorvane starts
// with its parent's resident pages, which would show in its peak.
bool make_files(const fs::path& dir, int bookmarks, files_t& files) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        generator_t g(20240611);
        bookmarks_t first = g.make(bookmarks);
        bookmarks_t second = first;
        g.vary(second.menu, 0);
        g.vary(second.toolbar, 1);
        g.vary(second.unfiled, 1);
        counts_t c1, c2;
        for (const item_t* f : {&first.menu, &first.toolbar, &first.unfiled}) count(*f, c1);
        for (const item_t* f : {&second.menu, &second.toolbar, &second.unfiled}) count(*f, c2);
        const bool ok = write_text(dir / "first.html", html_of(first)) &&
                        write_text(dir / "first.xml", xml_of(first)) &&
                        write_text(dir / "second.html", html_of(second));
        // Root, menu, toolbar and unfiled folders come on top.
        const std::string line = std::to_string(c1.nodes() + 4) + " " +
                                 std::to_string(c2.nodes() + 4) + " " +
                                 std::to_string(c1.bookmarks) + "\n";
        const bool sent =
            write(fds[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
        _exit(ok && sent ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    std::istringstream in(text);
    in >> files.first_nodes >> files.second_nodes >> files.first_bookmarks;
    files.html_bytes = fs::file_size(dir / "first.html");
    files.xml_bytes = fs::file_size(dir / "first.xml");
    files.second_bytes = fs::file_size(dir / "second.html");
    return static_cast<bool>(in);
}

// ---------------------------------------------------------------------------
// Running the programs.

struct run_t {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
    double wall_s = 0;
    double cpu_s = 0;     // user + system
    long max_rss_kb = 0;  // ru_maxrss
};

run_t run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
          const std::string& input) {
    Core_Platform::child_options_t options;
    options.environment.assign(env.begin(), env.end());
    options.input = input;
    options.separate_error = true;
    const auto start = std::chrono::steady_clock::now();
    Core_Platform::child_result_t child = Core_Platform::run_child_process(
        args[0], std::vector<std::string>(args.begin() + 1, args.end()), options);
    run_t result;
    result.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.status = child.signal != 0 ? 128 + child.signal : child.exit_code;
    result.out = std::move(child.output);
    result.err = std::move(child.error);
    result.cpu_s = child.cpu_seconds;
    result.max_rss_kb = child.max_rss_kb;
    return result;
}

std::string value_of(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return std::string();
}

// user + system time of a process so far, from /proc/PID/stat.
double process_cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto paren = text.rfind(')');
    if (paren == std::string::npos) return 0;
    std::istringstream fields(text.substr(paren + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Fields from the state (3rd) on; utime and stime are the 14th and 15th.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "Vm...:" line of /proc/PID/status in kB, or -1.
long status_kb(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
    }
    return -1;
}

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

std::string binary(const char* defined, const char* name) {
    if (fs::exists(defined)) return defined;
    // The build directory moved: look beside this program.
    return (fs::read_symlink("/proc/self/exe").parent_path() / name).string();
}

// ---------------------------------------------------------------------------
// Steps and figures.

struct sample_t {
    double wall_s, cpu_s, server_cpu_s;
    long rss_kb;
};

struct step_t {
    std::string name;
    double wall_target_s = 0;  // 0: none
    std::vector<sample_t> samples;
    long nodes = -1;
};

template <class F>
double median_of(const std::vector<sample_t>& s, F f) {
    std::vector<double> v;
    for (const auto& x : s) v.push_back(f(x));
    std::sort(v.begin(), v.end());
    if (v.empty()) return 0;
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

template <class F>
double max_of(const std::vector<sample_t>& s, F f) {
    double m = 0;
    for (const auto& x : s) m = std::max(m, f(x));
    return m;
}

// The targets of one collection size.
struct targets_t {
    double first_s, no_change_s;  // wall time of a first and a no-change sync
    bool inclusive;               // "at most" rather than "under"
    double client_mb, server_mb;  // peak memory; server 0: none
    const char* text;
};

// 50,000 bookmarks: first sync under 3 s, no-change sync under 1 s, client
// under 300 MB. From 200,000 (and for sizes between): first sync at most
// 6 s, no-change sync at most 2 s, client and server at most 600 MB each.
targets_t targets_for(int bookmarks) {
    if (bookmarks <= 50000) {
        return {3.0,   1.0, false,
                300.0, 0.0, "first sync < 3 s, no-change sync < 1 s, client < 300 MB"};
    }
    return {6.0,   2.0,
            true,  600.0,
            600.0, "first sync <= 6 s, no-change sync <= 2 s, client <= 600 MB, server <= 600 MB"};
}

bool within(double value, double target, bool inclusive) {
    return inclusive ? value <= target : value < target;
}

// Prints the table of the steps' medians and maxima against the targets of
// the size; returns whether every target was met.
bool print_summary(const std::vector<step_t>& steps, const targets_t& targets, long server_hwm_kb,
                   const std::string& load_during, int bookmarks, bool failed) {
    auto wall = [](const sample_t& s) { return s.wall_s; };
    auto cpu = [](const sample_t& s) { return s.cpu_s; };
    auto rss = [](const sample_t& s) { return static_cast<double>(s.rss_kb) / 1024.0; };
    auto server_cpu = [](const sample_t& s) { return s.server_cpu_s; };
    std::printf("\n%-28s %15s %15s %17s %13s %10s %s\n", "step (median / max)", "wall s",
                "client cpu s", "client rss MB", "server cpu s", "target", "");
    double client_peak_mb = 0;
    bool all_met = true;
    const char* relation = targets.inclusive ? "<=" : "<";
    for (const step_t& s : steps) {
        const double peak = max_of(s.samples, rss);
        client_peak_mb = std::max(client_peak_mb, peak);
        std::string target = "-", verdict;
        if (s.wall_target_s > 0) {
            char t[32];
            std::snprintf(t, sizeof t, "%s %.0f s", relation, s.wall_target_s);
            target = t;
            // Judged on the median; a maximum over the target is flagged.
            const bool met = within(median_of(s.samples, wall), s.wall_target_s, targets.inclusive);
            verdict = met ? "PASS" : "MISS";
            if (met && !within(max_of(s.samples, wall), s.wall_target_s, targets.inclusive))
                verdict += " (max over)";
            all_met = all_met && met;
        }
        std::printf("%-28s %6.2f / %6.2f %6.2f / %6.2f %7.1f / %7.1f %5.2f / %5.2f %10s %s\n",
                    s.name.c_str(), median_of(s.samples, wall), max_of(s.samples, wall),
                    median_of(s.samples, cpu), max_of(s.samples, cpu), median_of(s.samples, rss),
                    peak, median_of(s.samples, server_cpu), max_of(s.samples, server_cpu),
                    target.c_str(), verdict.c_str());
    }
    char memory_target[32];
    std::snprintf(memory_target, sizeof memory_target, "%s %.0f MB", relation, targets.client_mb);
    const bool memory_met = within(client_peak_mb, targets.client_mb, targets.inclusive);
    all_met = all_met && memory_met;
    std::printf("%-28s %64.1f MB %10s %s\n", "client peak memory (all)", client_peak_mb,
                memory_target, memory_met ? "PASS" : "MISS");
    const double server_mb = static_cast<double>(server_hwm_kb) / 1024.0;
    if (targets.server_mb > 0) {
        const bool server_met = within(server_mb, targets.server_mb, targets.inclusive);
        all_met = all_met && server_met;
        std::snprintf(memory_target, sizeof memory_target, "%s %.0f MB", relation,
                      targets.server_mb);
        std::printf("%-28s %64.1f MB %10s %s\n", "server peak memory (VmHWM)", server_mb,
                    memory_target, server_met ? "PASS" : "MISS");
    } else {
        std::printf("server peak memory (VmHWM): %.1f MB\n", server_mb);
    }
    std::printf("load average at the end: %s (nproc %ld)\n", load_during.c_str(),
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("%d bookmarks: targets (%s; times on the median, memory on the maximum): %s\n\n",
                bookmarks, targets.text,
                failed    ? "steps FAILED"
                : all_met ? "all met"
                          : "MISSED");
    return all_met;
}

// Creates the accounts the repetitions sync: alice0, xavier0, alice1, ...
bool add_accounts(const std::string& server_binary, const std::string& store, int repeats) {
    std::vector<std::string> users;
    for (int r = 0; r < std::max(1, repeats); ++r) {
        users.push_back("alice" + std::to_string(r));
        users.push_back("xavier" + std::to_string(r));
    }
    for (const std::string& user : users) {
        const run_t added =
            run({server_binary, "--store", store, "user", "add", user, "--password-stdin"}, {},
                std::string(kPassword) + "\n");
        if (added.status != 0) {
            std::fprintf(stderr, "sync_e2e_bench: user add %s failed: %s\n", user.c_str(),
                         added.err.c_str());
            return false;
        }
    }
    return true;
}

// Runs the steps for a generated collection of `bookmarks`; prints the
// figures. Returns 1 when a step failed, 0 otherwise; `all_met` says whether
// every target was met.
int run_size(int bookmarks, int repeats, bool keep, bool& all_met) {
    const targets_t targets = targets_for(bookmarks);
    const double kFirstTarget = targets.first_s, kNoChangeTarget = targets.no_change_s;
    const std::string zorvane = binary(ZV_ZORVANE_BINARY, "zorvane");
    const std::string server_binary = binary(ZV_SERVER_BINARY, "zorvane-server");

    std::string pattern = (fs::temp_directory_path() / "zv_e2e_XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("sync_e2e_bench: mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;
    std::printf("sync_e2e_bench: %d bookmarks, %d repetitions, in %s\n", bookmarks, repeats,
                dir.c_str());
    std::printf("targets: %s\n", targets.text);
    std::printf("machine: nproc %ld, load average at start %s\n", sysconf(_SC_NPROCESSORS_ONLN),
                load_average().c_str());

    files_t files;
    const auto generated = std::chrono::steady_clock::now();
    if (!make_files(dir, bookmarks, files)) {
        std::fprintf(stderr, "sync_e2e_bench: cannot write the bookmark files into %s\n",
                     dir.c_str());
        return 1;
    }
    std::printf(
        "files: first.html %.1f MB (%ld nodes, %ld bookmarks), first.xml %.1f MB, "
        "second.html %.1f MB (%ld nodes); written in %.1f s\n",
        static_cast<double>(files.html_bytes) / 1e6, files.first_nodes, files.first_bookmarks,
        static_cast<double>(files.xml_bytes) / 1e6, static_cast<double>(files.second_bytes) / 1e6,
        files.second_nodes,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - generated).count());

    const std::string store = "sqlite:" + (dir / "s.db").string();
    if (!add_accounts(server_binary, store, repeats)) return 1;
    if (repeats == 0) {
        // Files and accounts only, for running the steps by hand.
        std::printf("prepared %s (store %s, accounts alice0 and xavier0, password \"%s\")\n",
                    dir.c_str(), store.c_str(), kPassword);
        all_met = false;
        if (!keep) fs::remove_all(dir);
        return 0;
    }

    std::vector<step_t> steps = {
        {"first sync (html)", kFirstTarget, {}, -1},
        {"no-change sync (html)", kNoChangeTarget, {}, -1},
        {"merge sync, 2nd dir (html)", 0, {}, -1},
        {"update brings new version", 0, {}, -1},
        {"first sync (xml)", kFirstTarget, {}, -1},
        {"no-change sync (xml)", kNoChangeTarget, {}, -1},
    };
    bool failed = false;
    long server_hwm_kb = -1;
    std::string load_during;
    {
        std::unique_ptr<Core_Server::testing::server_process_t> server;
        try {
            server = std::make_unique<Core_Server::testing::server_process_t>(store);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "sync_e2e_bench: %s\n", e.what());
            return 1;
        }
        const pid_t server_pid = server->pid();
        // The bench's own resident size at each fork: a forked child's peak
        // starts from it.
        const long own_rss_kb = status_kb(getpid(), "VmRSS");
        std::printf("server: pid %d on port %u; this program's VmRSS %ld kB\n\n",
                    static_cast<int>(server_pid), static_cast<unsigned>(server->port()),
                    own_rss_kb);

        auto step = [&](std::size_t index, const std::string& user, const std::string& data,
                        std::vector<std::string> args, long expected_nodes) {
            std::vector<std::string> all = {zorvane,
                                            "--data-dir",
                                            (dir / data).string(),
                                            "--server",
                                            "127.0.0.1:" + std::to_string(server->port()),
                                            "--user",
                                            user,
                                            "--password-env",
                                            "ZV_BENCH_PASSWORD",
                                            "--timeout",
                                            "600"};
            all.insert(all.end(), args.begin(), args.end());
            fs::create_directories(dir / data);
            const double server_before = process_cpu_seconds(server_pid);
            const run_t r = run(all, {{"ZV_BENCH_PASSWORD", kPassword}}, std::string());
            const double server_cpu = process_cpu_seconds(server_pid) - server_before;
            step_t& s = steps[index];
            const long nodes = std::atol(value_of(r.out, "nodes").c_str());
            const bool ok = r.status == 0 && value_of(r.out, "result") == "OK" &&
                            (expected_nodes < 0 || nodes == expected_nodes);
            std::printf(
                "  %-28s %-8s wall %6.2f s  cpu %6.2f s  rss %7.1f MB  server cpu %5.2f s"
                "  nodes %ld%s\n",
                s.name.c_str(), user.c_str(), r.wall_s, r.cpu_s,
                static_cast<double>(r.max_rss_kb) / 1024.0, server_cpu, nodes,
                ok ? "" : "  FAILED");
            std::fflush(stdout);
            if (!ok) {
                failed = true;
                std::printf("    exit %d, expected nodes %ld\n    stdout: %s    stderr: %s\n",
                            r.status, expected_nodes, r.out.c_str(), r.err.c_str());
            }
            s.samples.push_back({r.wall_s, r.cpu_s, server_cpu, r.max_rss_kb});
            s.nodes = nodes;
            return nodes;
        };

        const std::string first_html = (dir / "first.html").string();
        const std::string second_html = (dir / "second.html").string();
        const std::string first_xml = (dir / "first.xml").string();
        for (int r = 0; r < repeats; ++r) {
            const std::string a = "a" + std::to_string(r), b = "b" + std::to_string(r);
            const std::string alice = "alice" + std::to_string(r);
            std::printf("repetition %d (load %s)\n", r + 1, load_average().c_str());
            step(0, alice, a, {"sync", "--format", "html", "--tree", first_html},
                 files.first_nodes);
            step(1, alice, a, {"sync", "--format", "html", "--tree", first_html},
                 files.first_nodes);
            // Neither side loses a bookmark: at least as many nodes as either file.
            const long merged =
                step(2, alice, b, {"sync", "--format", "html", "--tree", second_html}, -1);
            if (merged < std::max(files.first_nodes, files.second_nodes)) {
                std::printf("    FAILED: the merged tree has %ld nodes, fewer than a file\n",
                            merged);
                failed = true;
            }
            step(3, alice, a, {"update"}, merged);
            const std::string xavier = "xavier" + std::to_string(r);
            const std::string x = "x" + std::to_string(r);
            step(4, xavier, x, {"sync", "--tree", first_xml}, files.first_nodes);
            step(5, xavier, x, {"sync", "--tree", first_xml}, files.first_nodes);
        }
        load_during = load_average();
        server_hwm_kb = status_kb(server_pid, "VmHWM");
        const int stopped = server->stop();
        if (stopped != 0) std::printf("the server stopped with status %d\n", stopped);
    }

    all_met = print_summary(steps, targets, server_hwm_kb, load_during, bookmarks, failed);
    if (keep) {
        std::printf("kept %s\n", dir.c_str());
    } else {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    int repeats = 3;
    bool keep = false;
    std::vector<std::string> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "Usage: sync_e2e_bench [BOOKMARKS [REPEATS]] [--keep]\n\n"
                "Syncs a generated browser export of BOOKMARKS bookmarks (by default 50000,\n"
                "then 200000), as HTML and as a tree document, through zorvane and a\n"
                "zorvane-server on SQLite: first sync, no-change sync, a second data\n"
                "directory's merging first sync and an update, REPEATS times each (default\n"
                "3). Prints wall and processor time and the client's and the server's peak\n"
                "memory against the targets of the size. --keep keeps the files; with\n"
                "REPEATS 0 it only writes them and adds the accounts.\n");
            return 0;
        } else if (argv[i][0] == '-' || (std::atoi(argv[i]) <= 0 && std::strcmp(argv[i], "0"))) {
            std::fprintf(stderr, "sync_e2e_bench: unexpected argument '%s' (try --help)\n",
                         argv[i]);
            return 2;
        } else {
            numbers.push_back(argv[i]);
        }
    }
    if (numbers.size() > 0) sizes.push_back(std::max(10, std::atoi(numbers[0].c_str())));
    if (numbers.size() > 1) repeats = std::max(0, std::atoi(numbers[1].c_str()));
    if (sizes.empty()) sizes = {50000, 200000};
    int status = 0;
    std::vector<std::pair<int, bool>> verdicts;
    for (int bookmarks : sizes) {
        bool all_met = false;
        status |= run_size(bookmarks, repeats, keep, all_met);
        verdicts.emplace_back(bookmarks, all_met);
    }
    if (sizes.size() > 1) {
        for (const auto& [bookmarks, met] : verdicts) {
            std::printf("%d bookmarks: %s\n", bookmarks,
                        met ? "all targets met" : "targets MISSED");
        }
    }
    return status;
}
