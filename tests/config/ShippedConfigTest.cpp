// Lint of the settings file installed with the driver: every section,
// element and attribute the driver and its companion applications rely on is
// there exactly once, each value has its form, and the values are usable by
// the code that reads them. The same checks run on a copy after the driver's
// own write cycles, so a save keeps the file in shape.
#include "ConfigXML.h"
#include "DotAttribute.h"
#include "ConfigTestUtil.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cctype>
#include <string>
#include <vector>

#include <tinyxml.h>
#include <gtest/gtest.h>

#ifndef SKRIB_SOURCE_DIR
#error "SKRIB_SOURCE_DIR must name the source tree"
#endif

namespace {

using cfgtest::ReadFile;
using cfgtest::TempDir;
using cfgtest::WriteFile;

const std::string SHIPPED = std::string(SKRIB_SOURCE_DIR) + "/" CONFIG_FILE;

enum Form { INT, DECIMAL, STRING };

struct Attr { const char* name; Form form; };
struct Elem { const char* name; std::vector<Attr> attrs; };

const std::vector<Elem> GLOBAL_LAYOUT = {
    {"Pid", {{"BoardSer", INT}, {"Orient", INT}}},
    {"port", {{"num", INT}}},
    {"CurrentRun", {{"TYPE", STRING}}},
};

const std::vector<Elem> FAMILY_LAYOUT = {
    {"coordinate", {{"dotNum", INT}}},
    {"HOTKEY", {}},
    {"Constants", {{"LIMIT_COUNT", INT}, {"LIMIT_MOVE", INT}, {"RC1", DECIMAL}, {"RC2", DECIMAL},
                   {"ORIENT_RECV_DATA_SIZE", INT}, {"SIDEKEY_POINT_SIZE", INT}}},
    {"Flag", {{"Is_Had_Hand", INT}, {"Enable_Soft_Sidekey", INT}, {"Is_SpeedFirst", INT},
              {"bKeyPen", INT}}},
    {"DriverSet", {{"VALUE1_T", INT}, {"VALUE2_T", INT}, {"GESTURE_T", INT},
                   {"VALUE1_S", INT}, {"VALUE2_S", INT}, {"GESTURE_S", INT}}},
    {"KAPANSET", {{"Is_Default", INT}, {"FRONT", INT}, {"BACK", INT}}},
    {"Pcb", {{"m_i96or100", INT}, {"m_bSpecial_custom", INT}, {"m_bHHalfPcb", INT},
             {"m_bVHalfPcb", INT}, {"m_ihPcbNum", INT}, {"m_ivPcbNum", INT}}},
};

const char* const FAMILIES[] = {"SkribWorkZIW", "SkribWorkKAPD", "SkribWorkVU", "SkribWorkMO",
                                "SkribWorkMOD", "SkribWorkNE", "SkribWorkVUQ"};

int CountChildren(const TiXmlElement* parent, const char* name)
{
    int n = 0;
    for (const TiXmlElement* e = parent->FirstChildElement(name); e; e = e->NextSiblingElement(name))
        ++n;
    return n;
}

bool WholeInt(const char* text, int* out)
{
    char* end = nullptr;
    errno = 0;
    const long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    *out = static_cast<int>(v);
    return true;
}

// "-?digits.digits": a decimal number written with a point.
bool IsDecimal(const char* text)
{
    const char* p = text + (*text == '-');
    const char* digits = p;
    while (isdigit(static_cast<unsigned char>(*p)))
        ++p;
    if (p == digits || *p != '.')
        return false;
    digits = ++p;
    while (isdigit(static_cast<unsigned char>(*p)))
        ++p;
    return p != digits && *p == '\0';
}

// Checks one section against its layout; returns the section or null.
const TiXmlElement* CheckSection(const TiXmlElement* root, const char* section,
                                 const std::vector<Elem>& layout)
{
    SCOPED_TRACE(section);
    EXPECT_EQ(1, CountChildren(root, section)) << "a second section of a name is never read";
    const TiXmlElement* sec = root->FirstChildElement(section);
    if (!sec) {
        ADD_FAILURE() << "section missing";
        return nullptr;
    }
    for (const Elem& el : layout) {
        SCOPED_TRACE(el.name);
        EXPECT_EQ(1, CountChildren(sec, el.name));
        const TiXmlElement* e = sec->FirstChildElement(el.name);
        if (!e) {
            ADD_FAILURE() << "element missing";
            continue;
        }
        for (const Attr& a : el.attrs) {
            const char* text = e->Attribute(a.name);
            if (!text) {
                ADD_FAILURE() << "attribute missing: " << a.name;
                continue;
            }
            int v;
            if (a.form == INT) {
                EXPECT_TRUE(WholeInt(text, &v)) << a.name << "=\"" << text << "\"";
            } else if (a.form == DECIMAL) {
                EXPECT_TRUE(IsDecimal(text)) << a.name << "=\"" << text << "\"";
            }
        }
    }
    return sec;
}

int IntOf(const TiXmlElement* sec, const char* element, const char* attribute)
{
    int v = INT_MIN;
    const TiXmlElement* e = sec->FirstChildElement(element);
    if (e && e->Attribute(attribute))
        WholeInt(e->Attribute(attribute), &v);
    return v;
}

double DecimalOf(const TiXmlElement* sec, const char* element, const char* attribute)
{
    const TiXmlElement* e = sec->FirstChildElement(element);
    const char* text = e ? e->Attribute(attribute) : nullptr;
    return text ? strtod(text, nullptr) : NAN;
}

// Values the reading code can work with.
void CheckFamilyValues(const TiXmlElement* sec)
{
    // Calibration: a stored grid size, and that many readable points.
    const int dotNum = IntOf(sec, "coordinate", "dotNum");
    EXPECT_TRUE(dotNum == 0 || dotNum == 4 || dotNum == 9 || dotNum == 12 || dotNum == 20) << dotNum;
    for (int i = 0; i < dotNum; ++i) {
        double x, y;
        EXPECT_EQ(TIXML_SUCCESS, QueryRealDotAttribute(sec->FirstChildElement("coordinate"),
                                                       ("dot" + std::to_string(i)).c_str(), &x, &y))
            << "dot" << i;
    }

    // Pointer engine: a hold rule that is on, a still radius, filter weights
    // that keep the filtered point on the track.
    EXPECT_GT(IntOf(sec, "Constants", "LIMIT_COUNT"), 0);
    EXPECT_GT(IntOf(sec, "Constants", "LIMIT_MOVE"), 0);
    const double rc1 = DecimalOf(sec, "Constants", "RC1");
    const double rc2 = DecimalOf(sec, "Constants", "RC2");
    EXPECT_GT(rc1, 0.0);
    EXPECT_GE(rc2, 0.0);
    EXPECT_DOUBLE_EQ(1.0, rc1 + rc2);

    // Calibration collector: at least 3 samples for the trimmed mean, at most
    // the 200 it can hold.
    const int samples = IntOf(sec, "Constants", "ORIENT_RECV_DATA_SIZE");
    EXPECT_GE(samples, 3);
    EXPECT_LE(samples, 200);
    EXPECT_GT(IntOf(sec, "Constants", "SIDEKEY_POINT_SIZE"), 0);

    for (const char* flag : {"Is_Had_Hand", "Enable_Soft_Sidekey", "Is_SpeedFirst", "bKeyPen"}) {
        const int v = IntOf(sec, "Flag", flag);
        EXPECT_TRUE(v == 0 || v == 1) << flag << "=" << v;
    }
    // Zones switched on need their 28 centres.
    if (IntOf(sec, "Flag", "Enable_Soft_Sidekey") != 0) {
        for (int i = 0; i < 28; ++i) {
            double x, y;
            EXPECT_EQ(TIXML_SUCCESS, QueryRealDotAttribute(sec->FirstChildElement("HOTKEY"),
                                                           ("key" + std::to_string(i)).c_str(), &x, &y))
                << "key" << i;
        }
    }

    // Gesture thresholds in order.
    EXPECT_LE(IntOf(sec, "DriverSet", "VALUE1_T"), IntOf(sec, "DriverSet", "VALUE2_T"));
    EXPECT_LE(IntOf(sec, "DriverSet", "VALUE1_S"), IntOf(sec, "DriverSet", "VALUE2_S"));

    // Pen buttons: a known mode and indexes inside the code table.
    const int isDefault = IntOf(sec, "KAPANSET", "Is_Default");
    EXPECT_TRUE(isDefault == 0 || isDefault == 1) << isDefault;
    for (const char* button : {"FRONT", "BACK"}) {
        const int v = IntOf(sec, "KAPANSET", button);
        EXPECT_TRUE(v >= 0 && v <= 10) << button << "=" << v;
    }
}

size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

void LintFile(const std::string& path)
{
    TiXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(path.c_str())) << path << ": " << doc.ErrorDesc();
    const TiXmlElement* root = doc.RootElement();
    ASSERT_NE(nullptr, root);

    if (const TiXmlElement* global = CheckSection(root, "Global", GLOBAL_LAYOUT)) {
        const int port = IntOf(global, "port", "num");
        EXPECT_TRUE(port > 0 && port <= 65535) << port;
    }
    for (const char* family : FAMILIES) {
        SCOPED_TRACE(family);
        if (const TiXmlElement* sec = CheckSection(root, family, FAMILY_LAYOUT))
            CheckFamilyValues(sec);
    }
}

TEST(ShippedSettings, LayoutAndValuesAreComplete)
{
    LintFile(SHIPPED);

    TiXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(SHIPPED.c_str()));
    const TiXmlDeclaration* decl = doc.FirstChild() ? doc.FirstChild()->ToDeclaration() : nullptr;
    ASSERT_NE(nullptr, decl);
    EXPECT_STREQ("UTF-8", decl->Encoding());

    // Nothing of the driver's run time is shipped as set.
    CConfigXML cfg;
    ASSERT_TRUE(cfg.open(SHIPPED.c_str()));
    int pid = 0;
    char type[20] = "x";
    EXPECT_TRUE(cfg.readInt("Global", "Pid", "BoardSer", pid, 0));
    EXPECT_EQ(-1, pid);
    EXPECT_TRUE(cfg.readStr("Global", "CurrentRun", "TYPE", type, sizeof type));
    EXPECT_STREQ("", type);
}

// The shipped board starts with a nominal 2 x 2 calibration over its device
// range 0..32767 (32768 steps), at the 4 % / 96 % targets of the conversion,
// stored column by column.
TEST(ShippedSettings, NominalCalibrationOfTheShippedBoard)
{
    CConfigXML cfg;
    ASSERT_TRUE(cfg.open(SHIPPED.c_str()));
    int dotNum = 0;
    ASSERT_TRUE(cfg.readInt("SkribWorkZIW", "coordinate", "dotNum", dotNum, 0));
    ASSERT_EQ(4, dotNum);
    const wxRealPoint unset(-1, -1);
    wxRealPoint d[4] = {unset, unset, unset, unset};
    ASSERT_TRUE(cfg.readDot("SkribWorkZIW", "coordinate", "dot", dotNum, d));

    const double lo = 0.04 * 32768, hi = 0.96 * 32768;
    const wxRealPoint expected[4] = {wxRealPoint(lo, lo), wxRealPoint(lo, hi),
                                     wxRealPoint(hi, lo), wxRealPoint(hi, hi)};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(expected[i].x, d[i].x, 1e-6) << "dot" << i;
        EXPECT_NEAR(expected[i].y, d[i].y, 1e-6) << "dot" << i;
    }
}

// The driver's write paths on a copy: the file keeps its layout, its
// values and its comments.
TEST(ShippedSettings, SurvivesTheDriversWriteCycles)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("config.xml");
    const std::string shipped = ReadFile(SHIPPED);
    WriteFile(path, shipped);

    CConfigXML cfg;
    // Start-up, work thread start, calibration, hot-key calibration, end.
    ASSERT_TRUE(cfg.open(path.c_str()));
    EXPECT_TRUE(cfg.writeInt("Global", "Pid", "BoardSer", 4321));
    cfg.save();
    cfg.close();
    ASSERT_TRUE(cfg.open(path.c_str()));
    EXPECT_TRUE(cfg.writeStr("Global", "CurrentRun", "TYPE", "SkribWorkZIW"));
    EXPECT_TRUE(cfg.writeInt("SkribWorkZIW", "Flag", "Is_Had_Hand", 0));
    cfg.save();
    cfg.close();
    const wxRealPoint dots[4] = {wxRealPoint(1000.5, 900.25), wxRealPoint(1010, 31000),
                                 wxRealPoint(31500, 1200), wxRealPoint(31400, 31300)};
    std::vector<wxRealPoint> keys(28, wxRealPoint(500.0, 600.0));
    ASSERT_TRUE(cfg.open(path.c_str()));
    EXPECT_TRUE(cfg.writeInt("SkribWorkZIW", "coordinate", "dotNum", 4));
    EXPECT_TRUE(cfg.writeDot("SkribWorkZIW", "coordinate", "dot", 4, dots));
    cfg.save();
    cfg.close();
    ASSERT_TRUE(cfg.open(path.c_str()));
    EXPECT_TRUE(cfg.writeDot("SkribWorkZIW", "HOTKEY", "key", 28, keys.data()));
    cfg.save();
    cfg.close();

    LintFile(path);
    const std::string saved = ReadFile(path);
    EXPECT_NE(shipped, saved);
    // The explanations next to the values are kept by the rewrite.
    EXPECT_GT(CountOf(shipped, "<!--"), 0u);
    EXPECT_EQ(CountOf(shipped, "<!--"), CountOf(saved, "<!--"));

    ASSERT_TRUE(cfg.open(path.c_str()));
    wxRealPoint back[4];
    EXPECT_TRUE(cfg.readDot("SkribWorkZIW", "coordinate", "dot", 4, back));
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(dots[i].x, back[i].x, 1e-6);
        EXPECT_NEAR(dots[i].y, back[i].y, 1e-6);
    }
}

} // namespace
