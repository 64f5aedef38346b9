// Point-valued attributes: text form and the query results.
#include "DotAttribute.h"

#include <climits>
#include <cstring>
#include <ostream>

#include <gtest/gtest.h>

namespace {

constexpr int UNTOUCHED = -999;
constexpr double UNTOUCHED_REAL = -999.5;

struct IntCase
{
    const char* text;
    int result;
    int x, y; // expected outputs (UNTOUCHED when the query must not write)
};

void PrintTo(const IntCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class QueryDotValueTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(QueryDotValueTest, ParsesLikeScanfOfTheFormat)
{
    const IntCase& c = GetParam();
    TiXmlElement e("e");
    e.SetAttribute("p", c.text);
    int x = UNTOUCHED, y = UNTOUCHED;
    EXPECT_EQ(c.result, QueryDotValue(e.FirstAttribute(), &x, &y)) << '"' << c.text << '"';
    EXPECT_EQ(c.x, x) << '"' << c.text << '"';
    EXPECT_EQ(c.y, y) << '"' << c.text << '"';

    // The element-level query gives the same for the same text.
    int ax = UNTOUCHED, ay = UNTOUCHED;
    EXPECT_EQ(c.result, QueryDotAttribute(&e, "p", &ax, &ay));
    EXPECT_EQ(x, ax);
    EXPECT_EQ(y, ay);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QueryDotValueTest,
    ::testing::Values(
        IntCase{"(5,6)", TIXML_SUCCESS, 5, 6},
        IntCase{"(5)", TIXML_WRONG_TYPE, 5, UNTOUCHED},
        IntCase{"5,6", TIXML_WRONG_TYPE, UNTOUCHED, UNTOUCHED},
        IntCase{"(-120,+340)", TIXML_SUCCESS, -120, 340},
        IntCase{"( 7, 8)", TIXML_SUCCESS, 7, 8},     // %d skips white space
        IntCase{"(7 ,8)", TIXML_WRONG_TYPE, 7, UNTOUCHED},
        IntCase{"(5,6", TIXML_SUCCESS, 5, 6},        // the closing parenthesis is not checked
        IntCase{"(5,x)", TIXML_WRONG_TYPE, 5, UNTOUCHED},
        IntCase{"(1.5,2)", TIXML_WRONG_TYPE, 1, UNTOUCHED},
        IntCase{"(2147483648,1)", TIXML_WRONG_TYPE, UNTOUCHED, UNTOUCHED},
        IntCase{"(-2147483648,2147483647)", TIXML_SUCCESS, INT_MIN, INT_MAX},
        IntCase{" (5,6)", TIXML_WRONG_TYPE, UNTOUCHED, UNTOUCHED},
        IntCase{"", TIXML_WRONG_TYPE, UNTOUCHED, UNTOUCHED}));

struct RealCase
{
    const char* text;
    int result;
    double x, y;
};

void PrintTo(const RealCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class QueryRealDotValueTest : public ::testing::TestWithParam<RealCase> {};

TEST_P(QueryRealDotValueTest, ParsesLikeScanfOfTheFormat)
{
    const RealCase& c = GetParam();
    TiXmlElement e("e");
    e.SetAttribute("p", c.text);
    double x = UNTOUCHED_REAL, y = UNTOUCHED_REAL;
    EXPECT_EQ(c.result, QueryRealDotValue(e.FirstAttribute(), &x, &y)) << '"' << c.text << '"';
    EXPECT_DOUBLE_EQ(c.x, x) << '"' << c.text << '"';
    EXPECT_DOUBLE_EQ(c.y, y) << '"' << c.text << '"';

    double ax = UNTOUCHED_REAL, ay = UNTOUCHED_REAL;
    EXPECT_EQ(c.result, QueryRealDotAttribute(&e, "p", &ax, &ay));
    EXPECT_DOUBLE_EQ(x, ax);
    EXPECT_DOUBLE_EQ(y, ay);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QueryRealDotValueTest,
    ::testing::Values(
        RealCase{"(120.000000,340.500000)", TIXML_SUCCESS, 120.0, 340.5},
        RealCase{"(5,6)", TIXML_SUCCESS, 5.0, 6.0},
        RealCase{"(5.25)", TIXML_WRONG_TYPE, 5.25, UNTOUCHED_REAL},
        RealCase{"5.25,6", TIXML_WRONG_TYPE, UNTOUCHED_REAL, UNTOUCHED_REAL},
        RealCase{"(-1e3,2.5e-1)", TIXML_SUCCESS, -1000.0, 0.25},
        RealCase{"(1;5,6)", TIXML_WRONG_TYPE, 1.0, UNTOUCHED_REAL},
        RealCase{"(,6)", TIXML_WRONG_TYPE, UNTOUCHED_REAL, UNTOUCHED_REAL},
        RealCase{"", TIXML_WRONG_TYPE, UNTOUCHED_REAL, UNTOUCHED_REAL}));

TEST(DotAttribute, MissingAttributeOrElementLeavesOutputs)
{
    TiXmlElement e("e");
    e.SetAttribute("other", "(1,2)");
    int x = UNTOUCHED, y = UNTOUCHED;
    double rx = UNTOUCHED_REAL, ry = UNTOUCHED_REAL;
    EXPECT_EQ(TIXML_NO_ATTRIBUTE, QueryDotAttribute(&e, "p", &x, &y));
    EXPECT_EQ(TIXML_NO_ATTRIBUTE, QueryRealDotAttribute(&e, "p", &rx, &ry));
    EXPECT_EQ(TIXML_NO_ATTRIBUTE, QueryDotAttribute(nullptr, "p", &x, &y));
    EXPECT_EQ(TIXML_NO_ATTRIBUTE, QueryDotValue(nullptr, &x, &y));
    EXPECT_EQ(UNTOUCHED, x);
    EXPECT_EQ(UNTOUCHED, y);
    EXPECT_EQ(UNTOUCHED_REAL, rx);
    EXPECT_EQ(UNTOUCHED_REAL, ry);
}

TEST(DotAttribute, SetFormatsAndReplacesInPlace)
{
    struct { int x, y; const char* text; } ints[] = {
        {120, 340, "(120,340)"},
        {-5, 0, "(-5,0)"},
        {INT_MIN, INT_MAX, "(-2147483648,2147483647)"},
    };
    struct { double x, y; const char* text; } reals[] = {
        {12.5, 7.0, "(12.500000,7.000000)"},
        {120.0, 340.5, "(120.000000,340.500000)"},
        {-0.25, 1310.72, "(-0.250000,1310.720000)"},
        {1.0000004, 2.0000006, "(1.000000,2.000001)"},
    };

    TiXmlElement e("e");
    e.SetAttribute("before", "1");
    for (const auto& c : ints) {
        SetDotAttribute(&e, "p", c.x, c.y);
        EXPECT_STREQ(c.text, e.Attribute("p"));
        int x = 0, y = 0;
        EXPECT_EQ(TIXML_SUCCESS, QueryDotAttribute(&e, "p", &x, &y));
        EXPECT_EQ(c.x, x);
        EXPECT_EQ(c.y, y);
    }
    for (const auto& c : reals) {
        SetRealDotAttribute(&e, "r", c.x, c.y);
        EXPECT_STREQ(c.text, e.Attribute("r"));
    }

    // Setting again replaced the value; it did not add attributes.
    int count = 0;
    for (const TiXmlAttribute* a = e.FirstAttribute(); a; a = a->Next())
        ++count;
    EXPECT_EQ(3, count);
    EXPECT_STREQ("1", e.Attribute("before"));

    // The attribute-level setters format the same way.
    TiXmlAttribute* first = e.FirstAttribute();
    SetDotValue(first, 3, 4);
    EXPECT_STREQ("(3,4)", first->Value());
    SetRealDotValue(first, 3, 4);
    EXPECT_STREQ("(3.000000,4.000000)", first->Value());
}

} // namespace
