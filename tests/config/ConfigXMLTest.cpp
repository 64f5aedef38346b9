// The settings accessor: lookup rules, readers' default/keep rules, writers,
// point lists, bounded string copies and the failed-open path.
#include "ConfigXML.h"
#include "DotAttribute.h"
#include "ConfigTestUtil.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include <tinyxml.h>
#include <gtest/gtest.h>

namespace {

using cfgtest::ReadFile;
using cfgtest::TempDir;
using cfgtest::WriteFile;

const char* const SAMPLE =
    "<?xml version=\"1.0\" ?>\n"
    "<Root>\n"
    "  <Global>\n"
    "    <Pid BoardSer=\"1234\" Lead=\"12abc\" Word=\"abc\" Neg=\"-7\" Space=\" 42\" Plus=\"+3\"\n"
    "         Big=\"99999999999\" Frac=\"3.9\" Empty=\"\" />\n"
    "    <Pid BoardSer=\"5678\" />\n"
    "    <Msg>hello</Msg>\n"
    "    <NoText><Child /></NoText>\n"
    "  </Global>\n"
    "  <Global>\n"
    "    <port num=\"1\" />\n"
    "    <Pid BoardSer=\"9999\" />\n"
    "  </Global>\n"
    "  <SkribWorkZIW>\n"
    "    <coordinate dotNum=\"3\" dot0=\"(1.5,2.5)\" dot1=\"(5)\" dot3=\"(7,8)\" />\n"
    "    <Ints p0=\"(1,2)\" p1=\"(5)\" p2=\"(5,6)\" p3=\"bad\" />\n"
    "    <Long text=\"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ\">0123456789abcdefghijklmnopqrstuvwxyz</Long>\n"
    "  </SkribWorkZIW>\n"
    "</Root>\n";

class ConfigXMLTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        m_path = m_dir.file("config.xml");
        WriteFile(m_path, SAMPLE);
        ASSERT_TRUE(m_cfg.open(m_path.c_str()));
    }

    // Save, close and open again, so that what is read comes from the file.
    void Reload()
    {
        m_cfg.save();
        m_cfg.close();
        ASSERT_TRUE(m_cfg.open(m_path.c_str()));
    }

    TempDir m_dir;
    std::string m_path;
    CConfigXML m_cfg;
};

TEST_F(ConfigXMLTest, ReadIntTakesTheLeadingIntegerOrKeepsTheValue)
{
    constexpr int KEEP = 555;
    struct { const char* attribute; int expected; } cases[] = {
        {"BoardSer", 1234},
        {"Lead", 12},       // "12abc"
        {"Word", KEEP},     // "abc"
        {"Neg", -7},
        {"Space", 42},      // " 42"
        {"Plus", 3},
        {"Frac", 3},        // "3.9"
        {"Big", KEEP},      // does not fit an int
        {"Empty", KEEP},
        {"Missing", KEEP},
    };
    for (const auto& c : cases) {
        int value = KEEP;
        EXPECT_TRUE(m_cfg.readInt("Global", "Pid", c.attribute, value, -1)) << c.attribute;
        EXPECT_EQ(c.expected, value) << c.attribute;
    }
}

// Every reader, at three addresses: missing section, missing element (both
// must report false and apply the default or leave the output), and missing
// attribute (true, output left as it was).
TEST_F(ConfigXMLTest, MissingElementAndMissingAttributeAreTold)
{
    struct Address { const char* section; const char* element; const char* attribute; bool found; };
    const Address addresses[] = {
        {"NoSection", "Pid", "BoardSer", false},
        {"Global", "NoElement", "BoardSer", false},
        {"Global", "Pid", "NoAttribute", true},
    };
    for (const Address& a : addresses) {
        SCOPED_TRACE(std::string(a.section) + "/" + a.element + "/" + a.attribute);

        int value = 555;
        EXPECT_EQ(a.found, m_cfg.readInt(a.section, a.element, a.attribute, value, 4869));
        EXPECT_EQ(a.found ? 555 : 4869, value);

        char text[20] = "keep";
        EXPECT_EQ(a.found, m_cfg.readStr(a.section, a.element, a.attribute, text, sizeof text));
        EXPECT_STREQ("keep", text);

        int x = 11, y = 22;
        EXPECT_EQ(a.found, m_cfg.readDot(a.section, a.element, a.attribute, x, y));
        EXPECT_EQ(11, x);
        EXPECT_EQ(22, y);

        wxPoint pts[2] = {wxPoint(1, 1), wxPoint(2, 2)};
        EXPECT_EQ(a.found, m_cfg.readDot(a.section, a.element, a.attribute, 2, pts));
        EXPECT_EQ(wxPoint(1, 1), pts[0]);
        EXPECT_EQ(wxPoint(2, 2), pts[1]);

        wxRealPoint rpts[1] = {wxRealPoint(0.5, 0.5)};
        EXPECT_EQ(a.found, m_cfg.readDot(a.section, a.element, a.attribute, 1, rpts));
        EXPECT_EQ(wxRealPoint(0.5, 0.5), rpts[0]);

        // Writers never create sections or elements.
        EXPECT_EQ(a.found, m_cfg.writeInt(a.section, a.element, "w", 1));
        EXPECT_EQ(a.found, m_cfg.writeStr(a.section, a.element, "w", "x"));
        EXPECT_EQ(a.found, m_cfg.writeDot(a.section, a.element, "w", 1, 2));
    }
    char msg[20] = "keep";
    EXPECT_FALSE(m_cfg.readMsg("Global", "NoElement", msg, sizeof msg));
    EXPECT_STREQ("keep", msg);

    Reload();
    EXPECT_EQ(nullptr, m_cfg.Find_Element("NoSection", "Pid"));
    EXPECT_EQ(nullptr, m_cfg.Find_Element("Global", "NoElement"));
}

TEST_F(ConfigXMLTest, FindElementUsesFirstSectionAndFirstElementOnly)
{
    const char* noName[][2] = {{"", "Pid"}, {"Global", ""}, {"", ""}, {nullptr, "Pid"}, {"Global", nullptr}};
    for (const auto& n : noName)
        EXPECT_EQ(nullptr, m_cfg.Find_Element(n[0], n[1]));

    // "port" exists only in the second "Global": not found.
    EXPECT_EQ(nullptr, m_cfg.Find_Element("Global", "port"));
    int port = 0;
    EXPECT_FALSE(m_cfg.readInt("Global", "port", "num", port, 4869));
    EXPECT_EQ(4869, port);

    // The first "Pid" of the first "Global".
    int pid = 0;
    EXPECT_TRUE(m_cfg.readInt("Global", "Pid", "BoardSer", pid, -1));
    EXPECT_EQ(1234, pid);

    // Names are case-sensitive.
    EXPECT_EQ(nullptr, m_cfg.Find_Element("global", "Pid"));
    EXPECT_NE(nullptr, m_cfg.Find_Element("SkribWorkZIW", "coordinate"));
}

TEST_F(ConfigXMLTest, WrittenValuesReadBackFromTheFile)
{
    EXPECT_TRUE(m_cfg.writeInt("Global", "Pid", "BoardSer", -1));
    EXPECT_TRUE(m_cfg.writeInt("Global", "Pid", "NewInt", 2147483647));
    EXPECT_TRUE(m_cfg.writeStr("Global", "Pid", "Type", "SkribWorkZIW"));
    EXPECT_TRUE(m_cfg.writeStr("Global", "Pid", "Word", ""));
    EXPECT_TRUE(m_cfg.writeDot("Global", "Pid", "Dot", -3, 4));
    Reload();

    int v = 0;
    EXPECT_TRUE(m_cfg.readInt("Global", "Pid", "BoardSer", v, 0));
    EXPECT_EQ(-1, v);
    EXPECT_TRUE(m_cfg.readInt("Global", "Pid", "NewInt", v, 0));
    EXPECT_EQ(2147483647, v);
    char text[20] = "";
    EXPECT_TRUE(m_cfg.readStr("Global", "Pid", "Type", text, sizeof text));
    EXPECT_STREQ("SkribWorkZIW", text);
    EXPECT_TRUE(m_cfg.readStr("Global", "Pid", "Word", text, sizeof text));
    EXPECT_STREQ("", text);
    int x = 0, y = 0;
    EXPECT_TRUE(m_cfg.readDot("Global", "Pid", "Dot", x, y));
    EXPECT_EQ(-3, x);
    EXPECT_EQ(4, y);

    // The other sections and the second "Global" were written back unchanged.
    TiXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(m_path.c_str()));
    const TiXmlElement* second = doc.RootElement()->FirstChildElement("Global")->NextSiblingElement("Global");
    ASSERT_NE(nullptr, second);
    EXPECT_STREQ("1", second->FirstChildElement("port")->Attribute("num"));
}

TEST_F(ConfigXMLTest, PointListsUseNumberedAttributes)
{
    const wxRealPoint real[3] = {wxRealPoint(12.5, 7.0), wxRealPoint(-0.125, 31457.28),
                                 wxRealPoint(1.0 / 3.0, 2.0 / 3.0)};
    const char* realText[3] = {"(12.500000,7.000000)", "(-0.125000,31457.280000)",
                               "(0.333333,0.666667)"};
    const wxPoint ints[3] = {wxPoint(120, 340), wxPoint(-1, 0), wxPoint(32767, 65535)};
    const char* intText[3] = {"(120,340)", "(-1,0)", "(32767,65535)"};

    EXPECT_TRUE(m_cfg.writeDot("SkribWorkZIW", "coordinate", "dot", 3, real));
    EXPECT_TRUE(m_cfg.writeDot("SkribWorkZIW", "Ints", "p", 3, ints));
    Reload();

    TiXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(m_path.c_str()));
    const TiXmlElement* zw = doc.RootElement()->FirstChildElement("SkribWorkZIW");
    for (int i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_STREQ(realText[i], zw->FirstChildElement("coordinate")->Attribute(("dot" + n).c_str()));
        EXPECT_STREQ(intText[i], zw->FirstChildElement("Ints")->Attribute(("p" + n).c_str()));
    }
    // Only the first three were written; "dot3" is still the old value.
    EXPECT_STREQ("(7,8)", zw->FirstChildElement("coordinate")->Attribute("dot3"));

    wxRealPoint backReal[3];
    wxPoint backInts[3];
    EXPECT_TRUE(m_cfg.readDot("SkribWorkZIW", "coordinate", "dot", 3, backReal));
    EXPECT_TRUE(m_cfg.readDot("SkribWorkZIW", "Ints", "p", 3, backInts));
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(real[i].x, backReal[i].x, 1e-6);
        EXPECT_NEAR(real[i].y, backReal[i].y, 1e-6);
        EXPECT_EQ(ints[i], backInts[i]);
    }
}

TEST_F(ConfigXMLTest, PointListSkipsMissingAndMalformedPoints)
{
    const wxRealPoint sentinel(-1.0, -2.0);
    wxRealPoint pts[4] = {sentinel, sentinel, sentinel, sentinel};
    EXPECT_TRUE(m_cfg.readDot("SkribWorkZIW", "coordinate", "dot", 4, pts));
    EXPECT_EQ(wxRealPoint(1.5, 2.5), pts[0]);
    EXPECT_EQ(sentinel, pts[1]); // "(5)": malformed, not even x is taken
    EXPECT_EQ(sentinel, pts[2]); // missing
    EXPECT_EQ(wxRealPoint(7, 8), pts[3]);

    wxPoint ip[4] = {wxPoint(9, 9), wxPoint(9, 9), wxPoint(9, 9), wxPoint(9, 9)};
    EXPECT_TRUE(m_cfg.readDot("SkribWorkZIW", "Ints", "p", 4, ip));
    EXPECT_EQ(wxPoint(1, 2), ip[0]);
    EXPECT_EQ(wxPoint(9, 9), ip[1]); // "(5)"
    EXPECT_EQ(wxPoint(5, 6), ip[2]);
    EXPECT_EQ(wxPoint(9, 9), ip[3]); // "bad"

    int x = 9, y = 9;
    EXPECT_TRUE(m_cfg.readDot("SkribWorkZIW", "Ints", "p1", x, y));
    EXPECT_EQ(9, x);
    EXPECT_EQ(9, y);
}

TEST_F(ConfigXMLTest, PointListCountZeroOrNegativeTouchesNothing)
{
    wxRealPoint pts[1] = {wxRealPoint(-1, -1)};
    const wxRealPoint write[1] = {wxRealPoint(3, 3)};
    for (int count : {0, -1, -100}) {
        SCOPED_TRACE(count);
        EXPECT_TRUE(m_cfg.readDot("SkribWorkZIW", "coordinate", "dot", count, pts));
        EXPECT_FALSE(m_cfg.readDot("SkribWorkZIW", "NoElement", "dot", count, pts));
        EXPECT_TRUE(m_cfg.writeDot("SkribWorkZIW", "coordinate", "dot", count, write));
        EXPECT_FALSE(m_cfg.writeDot("SkribWorkZIW", "NoElement", "dot", count, write));
        EXPECT_EQ(wxRealPoint(-1, -1), pts[0]);
    }
    Reload();
    wxRealPoint p0;
    EXPECT_TRUE(m_cfg.readDot("SkribWorkZIW", "coordinate", "dot", 1, &p0));
    EXPECT_EQ(wxRealPoint(1.5, 2.5), p0);
}

// A long text into a small buffer: truncated, zero-terminated, and the byte
// after the buffer is never written.
TEST_F(ConfigXMLTest, StringReadersStayInsideTheBuffer)
{
    const std::string attr = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string text = "0123456789abcdefghijklmnopqrstuvwxyz";
    const char GUARD = '\x5a';

    using Reader = std::function<bool(CConfigXML&, char*, size_t)>;
    struct { const char* name; Reader read; const std::string& full; } readers[] = {
        {"readStr", [](CConfigXML& c, char* d, size_t n) {
             return c.readStr("SkribWorkZIW", "Long", "text", d, n); }, attr},
        {"readMsg", [](CConfigXML& c, char* d, size_t n) {
             return c.readMsg("SkribWorkZIW", "Long", d, n); }, text},
    };
    for (const auto& r : readers) {
        for (size_t capacity : {size_t(1), size_t(2), size_t(20), size_t(36), size_t(37), size_t(64)}) {
            SCOPED_TRACE(std::string(r.name) + " capacity " + std::to_string(capacity));
            char buf[65];
            memset(buf, '#', sizeof buf);
            buf[capacity] = GUARD;
            EXPECT_TRUE(r.read(m_cfg, buf, capacity));
            const size_t len = std::min(capacity - 1, r.full.size());
            EXPECT_EQ(r.full.substr(0, len), std::string(buf));
            EXPECT_EQ(GUARD, buf[capacity]);
        }
        char untouched[2] = {'#', GUARD};
        EXPECT_TRUE(r.read(m_cfg, untouched, 0));
        EXPECT_EQ('#', untouched[0]);
        EXPECT_EQ(GUARD, untouched[1]);
    }
}

TEST_F(ConfigXMLTest, ReadMsgOfElementWithoutTextIsEmpty)
{
    struct { const char* element; const char* expected; } cases[] = {
        {"Msg", "hello"}, {"NoText", ""}, {"Pid", ""},
    };
    for (const auto& c : cases) {
        char buf[20] = "keep";
        EXPECT_TRUE(m_cfg.readMsg("Global", c.element, buf, sizeof buf)) << c.element;
        EXPECT_STREQ(c.expected, buf) << c.element;
    }
}

TEST_F(ConfigXMLTest, ClosedAccessorFindsNothingAndSaveDoesNothing)
{
    m_cfg.writeInt("Global", "Pid", "BoardSer", 42);
    m_cfg.close();
    EXPECT_EQ(nullptr, m_cfg.Find_Element("Global", "Pid"));
    EXPECT_FALSE(m_cfg.writeInt("Global", "Pid", "BoardSer", 1));
    m_cfg.save();
    EXPECT_EQ(SAMPLE, ReadFile(m_path));

    CConfigXML never;
    never.save();
    never.close();
    EXPECT_EQ(nullptr, never.Find_Element("Global", "Pid"));
}

// The one test that waits the full retry time: open of a missing file makes
// every attempt, spaced by the interval, then fails; the accessor then finds
// nothing, and neither its save nor its writes touch any file (not the one it
// held before, not a file that appears at the failed path).
TEST_F(ConfigXMLTest, FailedOpenRetriesThenLeavesFilesAlone)
{
    // A document from a successful open is held: the failed open must drop it.
    int pid = 0;
    ASSERT_TRUE(m_cfg.readInt("Global", "Pid", "BoardSer", pid, -1));
    const std::string missing = m_dir.file("missing.xml");

    const unsigned long attemptsBefore = CConfigXML::LoadAttemptCount();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_cfg.open(missing.c_str()));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(static_cast<unsigned long>(CONFIG_LOAD_ATTEMPTS),
              CConfigXML::LoadAttemptCount() - attemptsBefore);
    EXPECT_EQ(15, CONFIG_LOAD_ATTEMPTS);
    EXPECT_EQ(200, CONFIG_LOAD_INTERVAL_MS);
    // 14 pauses of 200 ms between the 15 attempts.
    EXPECT_GE(seconds, 2.8);
    EXPECT_LT(seconds, 4.5);

    pid = 555;
    EXPECT_FALSE(m_cfg.readInt("Global", "Pid", "BoardSer", pid, -1));
    EXPECT_EQ(-1, pid);
    EXPECT_EQ(nullptr, m_cfg.Find_Element("Global", "Pid"));

    // The file appears after the failed open; save must not write over it.
    WriteFile(missing, SAMPLE);
    EXPECT_FALSE(m_cfg.writeInt("Global", "Pid", "BoardSer", 1));
    EXPECT_FALSE(m_cfg.writeStr("Global", "Pid", "Type", "x"));
    m_cfg.save();
    EXPECT_EQ(SAMPLE, ReadFile(missing));
    EXPECT_EQ(SAMPLE, ReadFile(m_path));
}

} // namespace
