#include "common/xml_node.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#include "common/shared_record_pool.h"

namespace Core_Common {
namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

std::string serialized(const xml_node_t& node, bool formatted) {
    std::string out;
    node.serialize(out, formatted);
    return out;
}

TEST(XmlNodeStructure, AddChildAppendsEmptyNodesInOrder) {
    xml_node_t root;
    root.name = u"r";
    xml_node_t& a = root.add_child(u"a");
    root.add_child(u"b");
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0], &a);
    EXPECT_EQ(root.children[1]->name, u"b");
    EXPECT_TRUE(a.text.empty());
    EXPECT_TRUE(a.attributes.empty());
    EXPECT_TRUE(a.children.empty());
}

TEST(XmlNodeStructure, FindChildReturnsFirstExactMatchAmongDirectChildren) {
    xml_node_t root;
    xml_node_t& first = root.add_child(u"item");
    root.add_child(u"item");
    root.add_child(u"other").add_child(u"deep");
    EXPECT_EQ(root.find_child(u"item"), &first);
    EXPECT_EQ(root.find_child(u"Item"), nullptr);
    EXPECT_EQ(root.find_child(u"ite"), nullptr);
    EXPECT_EQ(root.find_child(u"deep"), nullptr);
}

TEST(XmlNodeStructure, FindPathSkipsEmptySegments) {
    xml_node_t root;
    xml_node_t& b = root.add_child(u"a").add_child(u"b");
    EXPECT_EQ(root.find_path(u"a/b"), &b);
    EXPECT_EQ(root.find_path(u"a//b/"), &b);
    EXPECT_EQ(root.find_path(u"/a/b"), &b);
    EXPECT_EQ(root.find_path(u"a/c"), nullptr);
    EXPECT_EQ(root.find_path(u"b"), nullptr);
    EXPECT_EQ(root.find_path(u""), nullptr);
    EXPECT_EQ(root.find_path(u"/"), nullptr);
    EXPECT_EQ(root.find_path(u"//"), nullptr);
}

TEST(XmlNodeStructure, ChildrenComeFromTheNodePoolAndGoBack) {
    using pool = shared_record_pool<xml_node_t>;
    const std::uint32_t before = pool::figures().live;
    {
        xml_node_t root;  // the root itself is the caller's
        root.add_child(u"a").add_child(u"b");
        root.add_child(u"c");
        EXPECT_EQ(pool::figures().live, before + 3);
        root.children[0]->clear();
        EXPECT_EQ(pool::figures().live, before + 2);
        ASSERT_TRUE(root.parse("<r><x/><y><z/></y></r>"));
        EXPECT_EQ(pool::figures().live, before + 3);
    }
    EXPECT_EQ(pool::figures().live, before);
}

TEST(XmlNodeStructure, ClearEmptiesEverything) {
    xml_node_t root;
    root.name = u"r";
    root.text = "t";
    root.add_attribute("k", "v");
    root.add_child(u"c").add_child(u"d");
    root.clear();
    EXPECT_TRUE(root.name.empty());
    EXPECT_TRUE(root.text.empty());
    EXPECT_TRUE(root.attributes.empty());
    EXPECT_TRUE(root.children.empty());
}

TEST(XmlNodeStructure, MoveTransfersTheTree) {
    xml_node_t source;
    source.name = u"r";
    source.add_child(u"c").set_wide(u"x");
    xml_node_t target(std::move(source));
    EXPECT_TRUE(source.children.empty());
    EXPECT_TRUE(source.name.empty());
    ASSERT_NE(target.find_child(u"c"), nullptr);
    EXPECT_EQ(target.find_child(u"c")->text, "x");

    xml_node_t other;
    other.add_child(u"old");
    other = std::move(target);
    EXPECT_EQ(other.find_child(u"old"), nullptr);
    EXPECT_NE(other.find_child(u"c"), nullptr);
}

TEST(XmlNodeAttributes, FirstByteEqualNameWins) {
    xml_node_t node;
    node.add_attribute("result", "OK");
    node.add_attribute("result", "SECOND");
    node.add_attribute("t\xC3\xA9", "\xC3\xA9t\xC3\xA9");
    std::u16string wide = u"untouched";
    EXPECT_TRUE(node.get_attribute(u"result", wide));
    EXPECT_EQ(wide, u"OK");
    EXPECT_TRUE(node.get_attribute(u"t\u00e9", wide));
    EXPECT_EQ(wide, u"\u00e9t\u00e9");
    std::string narrow;
    EXPECT_TRUE(node.get_attribute(u"t\u00e9", narrow));
    EXPECT_EQ(narrow, "\xC3\xA9t\xC3\xA9");
    wide = u"untouched";
    EXPECT_FALSE(node.get_attribute(u"Result", wide));
    EXPECT_EQ(wide, u"untouched");
}

TEST(XmlNodeParse, WhitespaceOnlyTextBetweenElementsIsDropped) {
    xml_node_t node;
    ASSERT_TRUE(node.parse("<r>  <a>x</a>  </r>"));
    EXPECT_EQ(node.name, u"r");
    EXPECT_EQ(node.text, "");
    ASSERT_EQ(node.children.size(), 1u);
    EXPECT_EQ(node.children[0]->name, u"a");
    EXPECT_EQ(node.children[0]->text, "x");
}

TEST(XmlNodeParse, SpacesAroundLeafTextAreKept) {
    xml_node_t node;
    ASSERT_TRUE(node.parse("<a> x </a>"));
    EXPECT_EQ(node.text, " x ");
}

TEST(XmlNodeParse, MixedContentKeepsOnlyElements) {
    xml_node_t node;
    ASSERT_TRUE(node.parse("<a>1<b/>2</a>"));
    EXPECT_EQ(node.text, "");
    ASSERT_EQ(node.children.size(), 1u);
    EXPECT_EQ(node.children[0]->name, u"b");
    EXPECT_EQ(node.children[0]->text, "");
}

TEST(XmlNodeParse, CommentsAndProcessingInstructionsAreIgnoredCdataIsText) {
    xml_node_t node;
    ASSERT_TRUE(node.parse(
        "<?xml version=\"1.0\"?><!-- c --><r><!-- x --><?pi data?><a>one<!-- y --><![CDATA[<&>]]>"
        "two</a></r>"));
    ASSERT_EQ(node.children.size(), 1u);
    EXPECT_EQ(node.children[0]->text, "one<&>two");
}

TEST(XmlNodeParse, EntitiesAndCharacterReferencesAreDecoded) {
    xml_node_t node;
    ASSERT_TRUE(node.parse("<a t=\"&quot;&#233;\">&lt;&amp;&gt;&#x20AC;</a>"));
    EXPECT_EQ(node.text, "<&>\xE2\x82\xAC");
    ASSERT_EQ(node.attributes.size(), 1u);
    EXPECT_EQ(node.attributes[0].first, "t");
    EXPECT_EQ(node.attributes[0].second, "\"\xC3\xA9");
}

TEST(XmlNodeParse, AttributesKeepDocumentOrderAndDuplicatesOfDifferentNamespaces) {
    xml_node_t node;
    ASSERT_TRUE(node.parse("<a z=\"1\" y=\"\" x=\"3\"/>"));
    ASSERT_EQ(node.attributes.size(), 3u);
    EXPECT_EQ(node.attributes[0], xml_node_t::attribute_t("z", "1"));
    EXPECT_EQ(node.attributes[1], xml_node_t::attribute_t("y", ""));
    EXPECT_EQ(node.attributes[2], xml_node_t::attribute_t("x", "3"));
}

TEST(XmlNodeParse, FailureLeavesAnEmptyNode) {
    xml_node_t node;
    ASSERT_TRUE(node.parse("<r><a>x</a></r>"));
    EXPECT_FALSE(node.parse("this is not XML"));
    EXPECT_TRUE(node.name.empty());
    EXPECT_TRUE(node.children.empty());

    EXPECT_FALSE(node.parse(""));
    EXPECT_FALSE(node.parse("<r><a></r>"));
    EXPECT_FALSE(node.parse("<?xml version=\"1.0\"?>"));
    EXPECT_FALSE(node.parse(nullptr, 0));
    EXPECT_TRUE(node.name.empty());
}

TEST(XmlNodeParse, ByteVectorAndEncodingOverride) {
    const std::string doc = "<r>\xE9t\xE9</r>";  // Latin-1 bytes
    xml_node_t node;
    std::vector<std::uint8_t> bytes(doc.begin(), doc.end());
    ASSERT_TRUE(node.parse(bytes, "ISO-8859-1"));
    EXPECT_EQ(node.get_wide(), u"\u00e9t\u00e9");
    EXPECT_EQ(node.text, "\xC3\xA9t\xC3\xA9");
    EXPECT_FALSE(node.parse(bytes));  // not UTF-8 without the override
}

TEST(XmlNodeParse, RefusesDocumentTypesAndEveryEntityButThePredefinedOnes) {
    const std::string secret_path = testing::TempDir() + "xml_node_secret.txt";
    std::ofstream(secret_path) << "SECRET";
    // A billion laughs: 1.3 KB that would expand to gigabytes.
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxxxxxxxx\">";
    for (int i = 1; i < 12; ++i) {
        laughs += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&a" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><r>&a11;</r>";
    for (const std::string& doc : {
             laughs,
             std::string("<!DOCTYPE r [<!ENTITY e \"inner\">]><r>a&e;b</r>"),
             "<!DOCTYPE r [<!ENTITY e SYSTEM \"file://" + secret_path + "\">]><r>a&e;b</r>",
             std::string("<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/r.dtd\"><r>x</r>"),
             std::string("<!DOCTYPE r><r>x</r>"),
             std::string("<r>&undeclared;</r>"),
             std::string("<r a=\"&undeclared;\"/>"),
         }) {
        xml_node_t node;
        ASSERT_TRUE(node.parse("<old>content</old>"));
        EXPECT_FALSE(node.parse(doc)) << doc;
        EXPECT_TRUE(node.name.empty() && node.text.empty() && node.children.empty()) << doc;
    }
    std::remove(secret_path.c_str());
    // The five predefined entities and character references stay.
    xml_node_t node;
    ASSERT_TRUE(node.parse("<r q=\"&apos;&quot;\">&lt;&gt;&amp;&#65;&#x42;</r>"));
    EXPECT_EQ(node.text, "<>&AB");
    EXPECT_EQ(node.attributes.at(0).second, "'\"");
}

TEST(XmlNodeParse, LimitsOnDepthAndElementsRefuseTheWholeDocument) {
    auto nested = [](int depth) {
        std::string doc;
        for (int i = 0; i < depth; ++i) doc += "<e>";
        for (int i = 0; i < depth; ++i) doc += "</e>";
        return doc;
    };
    xml_limits_t limits;
    limits.max_depth = 5;
    limits.max_elements = 7;
    xml_node_t node;
    EXPECT_TRUE(node.parse(nested(5), limits));
    EXPECT_FALSE(node.parse(nested(6), limits));
    EXPECT_TRUE(node.name.empty() && node.children.empty());
    EXPECT_TRUE(node.parse("<r><a/><a/><a/><a/><a/><a/></r>", limits));
    EXPECT_EQ(node.children.size(), 6u);
    EXPECT_FALSE(node.parse("<r><a/><a/><a/><a/><a/><a/><a/></r>", limits));
    EXPECT_TRUE(node.name.empty() && node.children.empty());
    // Without limits the library's own nesting bound holds: 257 levels.
    EXPECT_TRUE(node.parse(nested(257)));
    EXPECT_FALSE(node.parse(nested(258)));
    EXPECT_FALSE(node.parse(nested(100000)));
}

TEST(XmlNodeSerialize, FormattedLayout) {
    xml_node_t root;
    root.name = u"r";
    root.add_child(u"c");
    EXPECT_EQ(serialized(root, true), std::string(kDeclaration) + "<r>\n  <c/>\n</r>\n");
    EXPECT_EQ(serialized(root, false), std::string(kDeclaration) + "<r><c/></r>\n");
}

TEST(XmlNodeSerialize, NestedTextAttributesAndRootTextNotWritten) {
    xml_node_t root;
    root.name = u"nodeset";
    root.text = "ignored";
    root.add_attribute("v", "1");
    xml_node_t& node = root.add_child(u"node");
    node.add_attribute("id", "a\"b");
    node.add_child(u"title").set_wide(u"T\u00e9");
    EXPECT_EQ(serialized(root, true), std::string(kDeclaration) +
                                          "<nodeset v=\"1\">\n"
                                          "  <node id=\"a&quot;b\">\n"
                                          "    <title>T\xC3\xA9</title>\n"
                                          "  </node>\n"
                                          "</nodeset>\n");
}

TEST(XmlNodeSerialize, SpecialCharactersAreEscapedAndReadBack) {
    xml_node_t root;
    root.name = u"r";
    root.add_child(u"t").set_wide(u"x<y&z");
    root.add_child(u"cr").text = "a\rb>c";
    const std::string out = serialized(root, false);
    EXPECT_NE(out.find("<t>x&lt;y&amp;z</t>"), std::string::npos) << out;
    EXPECT_NE(out.find("<cr>a&#13;b&gt;c</cr>"), std::string::npos) << out;

    xml_node_t back;
    ASSERT_TRUE(back.parse(out));
    EXPECT_EQ(back.find_child(u"t")->text, "x<y&z");
    EXPECT_EQ(back.find_child(u"cr")->text, "a\rb>c");
}

TEST(XmlNodeSerialize, ByteVectorIsReplaced) {
    xml_node_t root;
    root.name = u"r";
    std::vector<std::uint8_t> out(1000, 'z');
    root.serialize(out, false);
    EXPECT_EQ(std::string(out.begin(), out.end()), std::string(kDeclaration) + "<r/>\n");
}

TEST(XmlNodeSerialize, EmptyNameIsAProgrammingError) {
    xml_node_t root;
    root.add_child(u"c");
    std::string out = "before";
    try {
        root.serialize(out, true);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "crash");
    }
    EXPECT_EQ(out, "before");
}

TEST(XmlNodeSerialize, ParseOfSerializedTreeGivesTheSameTree) {
    xml_node_t root;
    root.name = u"Zorvane";
    for (int i = 0; i < 3; ++i) {
        xml_node_t& n = root.add_child(u"node");
        n.add_child(u"id").set_int32(i);
        n.add_child(u"title").set_wide(u"t \u00e9 <" + std::u16string(1, u'0' + i));
        n.add_child(u"empty");
    }
    for (bool formatted : {false, true}) {
        xml_node_t back;
        ASSERT_TRUE(back.parse(serialized(root, formatted)));
        ASSERT_EQ(back.children.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            const xml_node_t& n = *back.children[i];
            std::int32_t id = -1;
            EXPECT_TRUE(n.get_child(u"id", id));
            EXPECT_EQ(id, i);
            EXPECT_EQ(n.find_child(u"title")->text, root.children[i]->find_child(u"title")->text);
            EXPECT_EQ(n.find_child(u"empty")->text, "");
        }
    }
}

TEST(XmlNodeText, SettersWriteDecimalAndBooleanTexts) {
    xml_node_t n;
    n.set_bool(true);
    EXPECT_EQ(n.text, "true");
    n.set_bool(false);
    EXPECT_EQ(n.text, "false");
    n.set_int32(std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(n.text, "-2147483648");
    n.set_uint32(std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(n.text, "4294967295");
    n.set_int64(std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(n.text, "-9223372036854775808");
    n.set_ansi("\xC3\xA9");
    EXPECT_EQ(n.text, "\xC3\xA9");
    EXPECT_EQ(n.get_ansi(), "\xC3\xA9");
    n.text = "\xFF";  // not UTF-8
    EXPECT_EQ(n.get_wide(), u"");
}

TEST(XmlNodeText, IntegerRule) {
    xml_node_t n;
    auto int64_of = [&](const char* t) {
        n.text = t;
        return n.get_int64();
    };
    auto int32_of = [&](const char* t) {
        n.text = t;
        return n.get_int32();
    };
    EXPECT_EQ(int64_of("42"), 42);
    EXPECT_EQ(int64_of("t=42"), 42);
    EXPECT_EQ(int64_of("  -17 apples"), -17);
    EXPECT_EQ(int64_of("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(int64_of("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(int64_of("9223372036854775808"), 0);
    EXPECT_EQ(int64_of("no digits"), 0);
    EXPECT_EQ(int64_of(""), 0);
    EXPECT_EQ(int64_of("-"), 0);
    EXPECT_EQ(int64_of("1.5"), 0);
    EXPECT_EQ(int64_of("+5"), 5);   // "+" is leading text
    EXPECT_EQ(int64_of("--5"), 0);  // the run is a lone "-"
    EXPECT_EQ(int64_of("12-3"), 12);
    EXPECT_EQ(int32_of("2147483647"), 2147483647);
    EXPECT_EQ(int32_of("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(int32_of("2147483648"), 0);
}

TEST(XmlNodeText, ChildReadersLeaveTargetUnchangedWhenMissing) {
    xml_node_t root;
    root.add_child(u"v").set_int64(-5);
    root.add_child(u"s").set_wide(u"\u00e9");
    std::int64_t v64 = 99;
    std::int32_t v32 = 99;
    std::u16string wide = u"keep";
    std::string narrow = "keep";
    EXPECT_FALSE(root.get_child(u"missing", v64));
    EXPECT_FALSE(root.get_child(u"missing", v32));
    EXPECT_FALSE(root.get_child(u"missing", wide));
    EXPECT_FALSE(root.get_child(u"missing", narrow));
    EXPECT_EQ(v64, 99);
    EXPECT_EQ(v32, 99);
    EXPECT_EQ(wide, u"keep");
    EXPECT_EQ(narrow, "keep");
    EXPECT_TRUE(root.get_child(u"v", v64));
    EXPECT_EQ(v64, -5);
    EXPECT_TRUE(root.get_child(u"s", wide));
    EXPECT_EQ(wide, u"\u00e9");
    EXPECT_TRUE(root.get_child(u"s", narrow));
    EXPECT_EQ(narrow, "\xC3\xA9");
}

TEST(XmlNodeText, SmallestInt64SurvivesADocumentRoundTrip) {
    xml_node_t root;
    root.name = u"r";
    root.add_child(u"v").set_int64(std::numeric_limits<std::int64_t>::min());
    xml_node_t back;
    ASSERT_TRUE(back.parse(serialized(root, true)));
    std::int64_t v = 0;
    ASSERT_TRUE(back.get_child(u"v", v));
    EXPECT_EQ(v, std::numeric_limits<std::int64_t>::min());
}

}  // namespace
}  // namespace Core_Common
