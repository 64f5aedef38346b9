// Conversion of device positions to screen pixels: screen targets, cell
// choice, interpolation, rounding and clamping, and the calibration read
// from the settings file.
#include "Conversion.h"

#include "ConfigXML.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

// Readable failure messages for the point types.
void PrintTo(const wxPoint& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }
void PrintTo(const wxRealPoint& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }

#ifndef SKRIB_SOURCE_DIR
#error "SKRIB_SOURCE_DIR must name the source tree"
#endif

namespace {

namespace fs = std::filesystem;

using Dots = std::vector<wxRealPoint>;

// A conversion with the given calibration on a W x H screen, without the
// settings file.
std::unique_ptr<CConversion> Make(const Dots& dots, int width = 1440, int height = 900)
{
    auto conv = std::make_unique<CConversion>("SkribWorkZIW");
    conv->ReadScreen(width, height);
    conv->m_dotNum = static_cast<int>(dots.size());
    for (size_t i = 0; i < dots.size() && i < CONVERSION_DOT_MAX; ++i)
        conv->m_dot[i] = dots[i];
    conv->ReadPosition();
    return conv;
}

// Column by column; device x = x0 + step * c, y = y0 + step * r.
Dots RegularGrid(int columns, int rows, double x0 = 1000, double y0 = 1000, double step = 1000)
{
    Dots dots;
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r)
            dots.emplace_back(x0 + step * c, y0 + step * r);
    return dots;
}

// The 2 x 2 calibration of the worked examples: device 100 and 900 on both axes.
const Dots SQUARE_2X2 = {{100, 100}, {100, 900}, {900, 100}, {900, 900}};
const Dots SQUARE_3X3 = RegularGrid(3, 3, 100, 100, 400);

const double NaN = std::numeric_limits<double>::quiet_NaN();

struct PointCase
{
    const char* what;
    wxRealPoint dev;
    wxPoint screen;
};

void ExpectConversions(CConversionBase& conv, const std::vector<PointCase>& cases)
{
    for (const PointCase& t : cases) {
        SCOPED_TRACE(t.what);
        EXPECT_EQ(conv.Conversion(t.dev), t.screen) << "device (" << t.dev.x << ", " << t.dev.y << ")";
    }
}

// ---------------------------------------------------------------------------
// Screen targets

// x = trunc(0.92 W / (NC - 1) * c + 0.04 W), y likewise; e.g. on 1366 x 768
// the 2 x 2 x are trunc(54.64) and trunc(1311.36), y trunc(30.72) and trunc(737.28).
TEST(ConversionTargets, TargetsSitAtFourPercentMargins)
{
    struct
    {
        const Dots& dots;
        int width;
        int height;
        std::vector<double> xs; // per column
        std::vector<double> ys; // per row
    } cases[] = {
        {SQUARE_2X2, 1440, 900, {57, 1382}, {36, 864}},
        {SQUARE_3X3, 1440, 900, {57, 720, 1382}, {36, 450, 864}},
        {SQUARE_2X2, 1366, 768, {54, 1311}, {30, 737}},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.dots.size() << " targets on " << t.width << "x" << t.height);
        auto conv = Make(t.dots, t.width, t.height);
        const size_t rows = t.ys.size();
        for (size_t k = 0; k < t.dots.size(); ++k)
            EXPECT_EQ(conv->m_pos[k], wxRealPoint(t.xs[k / rows], t.ys[k % rows])) << "target " << k;
    }
}

TEST(ConversionTargets, GridFollowsTheStoredCount)
{
    struct { int dotNum; int columns; int rows; } cases[] = {
        {4, 2, 2}, {9, 3, 3}, {12, 4, 3}, {20, 5, 4}, {0, 3, 3}, {7, 3, 3}, {16, 3, 3},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.dotNum);
        CConversion conv("SkribWorkZIW");
        conv.ReadScreen(1440, 900);
        conv.m_dotNum = t.dotNum;
        conv.ReadPosition();
        for (int k = 0; k < t.columns * t.rows; ++k) {
            const int c = k / t.rows;
            const int r = k % t.rows;
            // Stored column by column: x follows the column, y the row.
            EXPECT_EQ(conv.m_pos[k].x, conv.m_pos[c * t.rows].x) << "target " << k;
            EXPECT_EQ(conv.m_pos[k].y, conv.m_pos[r].y) << "target " << k;
            if (c > 0) {
                EXPECT_GT(conv.m_pos[k].x, conv.m_pos[k - t.rows].x) << "target " << k;
            }
            if (r > 0) {
                EXPECT_GT(conv.m_pos[k].y, conv.m_pos[k - 1].y) << "target " << k;
            }
        }
        // 4 % margins on every side.
        const int last = t.columns * t.rows - 1;
        EXPECT_EQ(conv.m_pos[0], wxRealPoint(57, 36));
        EXPECT_EQ(conv.m_pos[last], wxRealPoint(1382, 864));
    }
}

// Every target's own measured position converts onto its screen target.
// Grids are bent (uneven spacing) and rows slant; for the band rule grids
// the columns stay straight, as the band rule needs for this to hold.
TEST(ConversionTargets, EveryTargetConvertsOntoItsOwnScreenPosition)
{
    struct
    {
        int dotNum;
        int columns;
        int rows;
        int width;
        int height;
        double slantX; // device x added across the rows
        double slantY; // device y added across the columns
    } cases[] = {
        {4, 2, 2, 1440, 900, 600, -700},
        {9, 3, 3, 1440, 900, 600, -700},
        {9, 3, 3, 1920, 1080, -450, 500},
        {12, 4, 3, 1366, 768, 0, 800},
        {12, 4, 3, 1920, 1080, 0, -600},
        {20, 5, 4, 1440, 900, 0, -800},
        {20, 5, 4, 3840, 2160, 0, 700},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.dotNum << " targets on " << t.width << "x" << t.height);
        Dots dots;
        for (int c = 0; c < t.columns; ++c) {
            for (int r = 0; r < t.rows; ++r) {
                const double u = double(c) / (t.columns - 1);
                const double v = double(r) / (t.rows - 1);
                dots.emplace_back(1000 + 30000 * u + 2000 * u * (1 - u) + t.slantX * v,
                                  1200 + 29000 * v - 1500 * v * (1 - v) + t.slantY * u);
            }
        }
        ASSERT_EQ(static_cast<int>(dots.size()), t.dotNum);
        auto conv = Make(dots, t.width, t.height);
        for (int k = 0; k < t.dotNum; ++k) {
            const wxPoint target(static_cast<int>(conv->m_pos[k].x), static_cast<int>(conv->m_pos[k].y));
            EXPECT_EQ(conv->Conversion(dots[k]), target) << "target " << k;
        }
    }
}

// ---------------------------------------------------------------------------
// Worked examples, rounding and clamping

TEST(Conversion, TwoByTwoExamples)
{
    auto conv = Make(SQUARE_2X2);
    ExpectConversions(*conv, {
        {"centre: 719.5 goes down", {500, 500}, {719, 450}},
        {"388.25 and 657", {300, 700}, {388, 657}},
        {"on the left edge", {100, 500}, {57, 450}},
        {"beyond the bottom right: clamped to W and H", {1000, 1000}, {1440, 900}},
        {"beyond the top left: clamped to 0", {0, 0}, {0, 0}},
        {"not a number", {NaN, 500}, {0, 0}},
        {"x beyond the int range becomes 0 before the clamp", {1e12, 500}, {0, 450}},
    });
}

TEST(Conversion, ThreeByThreeExamples)
{
    auto conv = Make(SQUARE_3X3);
    ExpectConversions(*conv, {
        {"centre point, in cell (0, 0)", {500, 500}, {720, 450}},
        {"inside cell (1, 1)", {700, 700}, {1051, 657}},
    });
}

TEST(Conversion, SkewedQuadrilateral)
{
    // TL, BL, TR, BR.
    auto conv = Make({{100, 120}, {140, 900}, {880, 80}, {920, 950}});
    ExpectConversions(*conv, {
        {"BL", {140, 900}, {57, 864}},
        {"TR", {880, 80}, {1382, 36}},
        {"inside", {500, 500}, {703, 439}},
    });
}

// A 4 x 3 calibration uses its own cells: on a rectangular grid the
// conversion is linear inside each cell. Device columns 1000, 2000, 3000 and
// 5000 (the last cell twice as wide), rows 1000..3000; screen targets
// x 57, 499, 940, 1382 and y 36, 450, 864.
TEST(Conversion, TwelveTargetsInterpolateInTheirOwnCells)
{
    Dots grid = RegularGrid(4, 3);
    for (int r = 0; r < 3; ++r)
        grid[9 + r].x = 5000;
    auto conv = Make(grid);
    ASSERT_EQ(conv->m_pos[3], wxRealPoint(499, 36));
    ASSERT_EQ(conv->m_pos[6], wxRealPoint(940, 36));
    ExpectConversions(*conv, {
        // cell (1, 0): 499 + 0.2 * 441 = 587.2, 36 + 0.2 * 414 = 118.8
        {"cell (1, 0)", {2200, 1200}, {587, 119}},
        // cell (2, 1): 940 + 0.5 * 442 = 1161, 450 + 0.3 * 414 = 574.2
        {"cell (2, 1)", {4000, 2300}, {1161, 574}},
        // cell (0, 1): 57 + 0.9 * 442 = 454.8, 450 + 0.9 * 414 = 822.6
        {"cell (0, 1)", {1900, 2900}, {455, 823}},
    });
}

TEST(Conversion, NoCalibrationConvertsEverythingToTheOrigin)
{
    CConversion conv("SkribWorkZIW");
    conv.ReadScreen(1440, 900);
    conv.ReadPosition();
    ASSERT_EQ(conv.m_dotNum, 0);
    ExpectConversions(conv, {
        {"origin", {0, 0}, {0, 0}},
        {"inside", {500, 700}, {0, 0}},
        {"large", {30000, 20000}, {0, 0}},
    });
}

// ---------------------------------------------------------------------------
// Cell choice

struct CellCase
{
    const char* what;
    wxRealPoint dev;
    int c;
    int r;
    bool accepted;
};

void ExpectCells(const Dots& dots, const std::vector<CellCase>& cases)
{
    auto conv = Make(dots);
    for (const CellCase& t : cases) {
        SCOPED_TRACE(t.what);
        int c = -1;
        int r = -1;
        EXPECT_EQ(conv->FindCell(t.dev, c, r), t.accepted);
        EXPECT_EQ(c, t.c);
        EXPECT_EQ(r, t.r);
    }
}

Dots Moved(Dots dots, int rows, int c, int r, wxRealPoint to)
{
    dots[c * rows + r] = to;
    return dots;
}

TEST(ConversionCell, SingleCellOfTwoByTwo)
{
    ExpectCells(SQUARE_2X2, {
        {"inside", {500, 500}, 0, 0, true},
        {"far out", {-1e6, 1e6}, 0, 0, true},
    });
}

TEST(ConversionCell, CentrePointRuleOnThreeByThree)
{
    ExpectCells(SQUARE_3X3, {
        {"centre x and y: left column, upper row", {500, 500}, 0, 0, true},
        {"just right of the centre", {500.001, 500}, 1, 0, true},
        {"just below the centre", {500, 500.001}, 0, 1, true},
        {"far lower left", {-1e6, 1e6}, 0, 1, true},
    });
}

// Device columns 1000..5000, rows 1000..4000.
TEST(ConversionCell, BandRuleOnFiveByFour)
{
    ExpectCells(RegularGrid(5, 4), {
        {"x on a column limit: right cell", {2000, 1500}, 1, 0, true},
        {"x just left of it", {1999.5, 1500}, 0, 0, true},
        {"y on a row limit: lower cell", {1500, 2000}, 0, 1, true},
        {"on an interior grid point", {3000, 2000}, 2, 1, true},
        {"the last target", {5000, 4000}, 3, 2, true},
        {"far upper left", {-1e6, -1e6}, 0, 0, true},
        {"far upper right", {1e6, -1e6}, 3, 0, true},
        {"far lower right", {1e6, 1e6}, 3, 2, true},
    });
}

TEST(ConversionCell, BandLimitsComeFromTheInteriorRowsAndColumns)
{
    const Dots grid = RegularGrid(5, 4);
    // An outer row's column 1 moved left, an outer column's row 1 moved up:
    // neither is a limit.
    ExpectCells(Moved(Moved(grid, 4, 1, 0, {1700, 1000}), 4, 0, 1, {1000, 1700}), {
        {"left of column 1 of row 1", {1800, 1200}, 0, 0, true},
        {"above row 1 of column 1", {1200, 1800}, 0, 0, true},
    });
    // The last cells take their row limits from column 3, not column 4.
    ExpectCells(Moved(grid, 4, 4, 1, {5000, 1700}), {
        {"above row 1 of column 3", {4500, 1800}, 3, 0, true},
    });
}

// Device columns 1000..4000, rows 1000..3000.
TEST(ConversionCell, BandRuleOnFourByThree)
{
    const Dots grid = RegularGrid(4, 3);
    ExpectCells(grid, {
        {"on an interior grid point", {2000, 2000}, 1, 1, true},
        {"just above and left of it", {1999.5, 1999.5}, 0, 0, true},
        {"x on the last column limit", {3000, 1000}, 2, 0, true},
        {"far lower right", {1e6, 1e6}, 2, 1, true},
    });
    ExpectCells(Moved(Moved(grid, 3, 1, 0, {1700, 1000}), 3, 3, 1, {4000, 1700}), {
        {"column limits from row 1 only", {1800, 1200}, 0, 0, true},
        {"row limits from columns 1 and 2 only", {3500, 1800}, 2, 0, true},
    });
}

// Grid point (1, 2) moved to (1800, 2900): the column limit of row band 2
// moves left of that of row band 1, and the row limit of columns 0 and 1
// (taken from column 1) moves above that of column band 1 (taken from
// column 2). Points between the crossed limits meet no cell's limits and go
// to the cell whose limits they miss by least. Misses of (1900, 2940):
// cell (0, 1) 40 (y), (1, 2) 60 (y), (0, 2) and (1, 1) 100 (x).
TEST(ConversionCell, PointThatNoBandAcceptsGoesToTheNearestCell)
{
    ExpectCells(Moved(RegularGrid(5, 4), 4, 1, 2, {1800, 2900}), {
        {"40 above cell (0, 1)'s lower limit", {1900, 2940}, 0, 1, false},
        {"40 above cell (1, 2)'s upper limit", {1900, 2960}, 1, 2, false},
        {"10 left of cell (1, 1)", {1990, 2950}, 1, 1, false},
        {"10 right of cell (0, 2)", {1810, 2950}, 0, 2, false},
        {"accepted just beside the gap", {1900, 2800}, 0, 1, true},
        {"accepted below the gap", {1900, 3100}, 1, 2, true},
    });
}

// ---------------------------------------------------------------------------
// Calibration from the settings file

const char* const SECTION = "SkribWorkZIW";

// Runs each test in a fresh working folder holding Config/config.xml.
class ConversionSettings : public testing::Test
{
protected:
    void SetUp() override
    {
        m_oldCwd = fs::current_path();
        std::string tmpl = (fs::temp_directory_path() / "skribcalib.XXXXXX").string();
        ASSERT_NE(mkdtemp(&tmpl[0]), nullptr);
        m_dir = tmpl;
        fs::create_directory(m_dir / "Config");
        fs::current_path(m_dir);
    }

    void TearDown() override
    {
        fs::current_path(m_oldCwd);
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // A settings file with an empty calibration of our section and a
    // 3 x 3 one of another family.
    void WriteEmptyFile()
    {
        std::ofstream out(CONFIG_FILE, std::ios::trunc);
        out << "<?xml version=\"1.0\" ?>\n<Config>\n"
               "  <Global><Pid BoardSer=\"-1\" /></Global>\n"
               "  <SkribWorkVU><coordinate dotNum=\"9\" dot0=\"(1.0,1.0)\" /></SkribWorkVU>\n"
               "  <SkribWorkZIW><coordinate /></SkribWorkZIW>\n"
               "</Config>\n";
        ASSERT_TRUE(out.good());
    }

    // Stores a calibration as the calibration collector does.
    void Store(int dotNum, const Dots& dots)
    {
        CConfigXML cfg;
        ASSERT_TRUE(cfg.open(CONFIG_FILE));
        ASSERT_TRUE(cfg.writeInt(SECTION, "coordinate", "dotNum", dotNum));
        ASSERT_TRUE(cfg.writeDot(SECTION, "coordinate", "dot", static_cast<int>(dots.size()), dots.data()));
        cfg.save();
        cfg.close();
    }

    fs::path m_oldCwd;
    fs::path m_dir;
};

TEST_F(ConversionSettings, StoredCalibrationIsReadBack)
{
    WriteEmptyFile();
    const Dots skewed = {{100.25, 120.5}, {140, 900}, {880.125, 80}, {920, 950.75}};
    Store(4, skewed);

    std::unique_ptr<CConversionBase> conv(CConversionBase::CreateConversion(SECTION));
    conv->Init(1440, 900);
    EXPECT_EQ(conv->m_width, 1440);
    EXPECT_EQ(conv->m_height, 900);
    ASSERT_EQ(conv->m_dotNum, 4);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(conv->m_dot[k], skewed[k]) << "dot" << k;
    EXPECT_EQ(conv->m_pos[3], wxRealPoint(1382, 864));
    EXPECT_EQ(conv->Conversion({140, 900}), wxPoint(57, 864));
    EXPECT_EQ(conv->Conversion({880.125, 80}), wxPoint(1382, 36));
}

TEST_F(ConversionSettings, UpdateReadsTheNewCalibrationAndKeepsTheScreenSize)
{
    WriteEmptyFile();
    Store(4, SQUARE_2X2);
    std::unique_ptr<CConversionBase> conv(CConversionBase::CreateConversion(SECTION));
    conv->Init(1440, 900);
    ASSERT_EQ(conv->Conversion({500, 500}), wxPoint(719, 450));

    Store(9, SQUARE_3X3);
    conv->Update();
    EXPECT_EQ(conv->m_width, 1440);
    EXPECT_EQ(conv->m_height, 900);
    EXPECT_EQ(conv->m_dotNum, 9);
    EXPECT_EQ(conv->m_pos[4], wxRealPoint(720, 450));
    EXPECT_EQ(conv->Conversion({700, 700}), wxPoint(1051, 657));
}

TEST_F(ConversionSettings, CountAboveTwentyIsNoCalibration)
{
    for (int count : {21, 30}) {
        SCOPED_TRACE(count);
        WriteEmptyFile();
        Store(4, SQUARE_2X2);
        std::unique_ptr<CConversionBase> conv(CConversionBase::CreateConversion(SECTION));
        conv->Init(1440, 900);
        ASSERT_EQ(conv->m_dotNum, 4);

        Dots many;
        for (int i = 0; i < count; ++i)
            many.emplace_back(100 + 40 * i, 100 + 30 * i);
        Store(count, many);
        conv->Update();
        EXPECT_EQ(conv->m_dotNum, 0);
        for (int k = 0; k < CONVERSION_DOT_MAX; ++k)
            EXPECT_EQ(conv->m_dot[k], wxRealPoint(0, 0)) << "dot" << k;
        EXPECT_EQ(conv->Conversion({500, 500}), wxPoint(0, 0));
        EXPECT_EQ(conv->Conversion({900, 700}), wxPoint(0, 0));
    }
}

TEST_F(ConversionSettings, MissingFileKeepsTheCalibration)
{
    WriteEmptyFile();
    Store(4, SQUARE_2X2);
    std::unique_ptr<CConversionBase> conv(CConversionBase::CreateConversion(SECTION));
    conv->Init(1440, 900);

    fs::remove(CONFIG_FILE);
    conv->Update(); // the store gives up after its retries
    EXPECT_EQ(conv->m_dotNum, 4);
    EXPECT_EQ(conv->m_dot[3], SQUARE_2X2[3]);
    EXPECT_EQ(conv->Conversion({300, 700}), wxPoint(388, 657));
}

// The shipped settings carry a 2 x 2 calibration for the shipped board that
// spreads its device range 0..32767 over the whole screen.
TEST_F(ConversionSettings, ShippedCalibrationCoversTheScreen)
{
    fs::copy_file(fs::path(SKRIB_SOURCE_DIR) / CONFIG_FILE, CONFIG_FILE);
    std::unique_ptr<CConversionBase> conv(CConversionBase::CreateConversion(SECTION));
    conv->Init(1440, 900);
    ASSERT_EQ(conv->m_dotNum, 4);
    ExpectConversions(*conv, {
        {"top left", {0, 0}, {0, 0}},
        {"bottom left", {0, 32767}, {0, 900}},
        {"top right", {32767, 0}, {1440, 0}},
        {"bottom right", {32767, 32767}, {1440, 900}},
    });
    const wxPoint centre = conv->Conversion({16384, 16384});
    EXPECT_NEAR(centre.x, 720, 1);
    EXPECT_NEAR(centre.y, 450, 1);
}

} // namespace
