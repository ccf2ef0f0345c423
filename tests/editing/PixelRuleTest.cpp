#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "editing/FloatText.h"
#include "editing/RedEye.h"
#include "support/TestSupport.h"
#include "EditingTestUtil.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

struct RuleCase {
    const char* name;
    int r, g, b;
    int attenuation;
    bool grey;
    bool passes;
    int r2, g2, b2;  // expected afterwards (the input when it fails)
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class PixelRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(PixelRule, ChangesAsTheRuleSays) {
    const RuleCase& c = GetParam();
    EditSettings s = DefaultEditSettings(".");
    s.Attenuation = c.attenuation;
    s.ForceGrey = c.grey;
    const Thresholds t = Convert(s);
    uint8_t p[3] = {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r)};
    EXPECT_EQ(ClearRedPixel(p, t), c.passes);
    EXPECT_EQ(int(p[2]), c.r2);
    EXPECT_EQ(int(p[1]), c.g2);
    EXPECT_EQ(int(p[0]), c.b2);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, PixelRule,
    ::testing::Values(RuleCase{"mean_of_green_and_blue", 200, 100, 150, 0, false, true, 125, 100, 150},
                      RuleCase{"half_attenuation", 200, 100, 150, 50, false, true, 62, 50, 75},
                      RuleCase{"force_grey", 200, 100, 150, 0, true, true, 125, 125, 125},
                      RuleCase{"red_level_must_exceed", 35, 10, 10, 0, false, false, 35, 10, 10},
                      RuleCase{"just_above_red_level", 36, 10, 10, 0, false, true, 10, 10, 10},
                      RuleCase{"zero_channels_count_as_one", 100, 0, 0, 0, false, true, 1, 1, 1},
                      RuleCase{"zero_channels_grey", 100, 0, 0, 0, true, true, 1, 1, 1},
                      // Extended-precision products just below a whole number.
                      RuleCase{"a80_channel_20_gives_3", 200, 20, 20, 80, false, true, 3, 3, 3},
                      RuleCase{"a20_green_100_gives_79", 255, 100, 100, 20, false, true, 79, 79, 79},
                      RuleCase{"full_attenuation_black", 200, 50, 50, 100, false, true, 0, 0, 0},
                      // A ratio equal to the threshold passes: 16/10 and 11/10
                      // compared in extended precision with the texts 1.6, 1.1.
                      RuleCase{"ratio_rg_equal_passes", 160, 100, 20, 0, false, true, 60, 100, 20},
                      RuleCase{"ratio_rb_equal_passes", 110, 20, 100, 0, false, true, 60, 20, 100},
                      RuleCase{"ratio_rg_below_fails", 159, 100, 20, 0, false, false, 159, 100, 20}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PixelRule, NoAttenuationMultipliesByExactlyOne) {
    EXPECT_EQ(AttenuationFactor(0), 1.0L);
    // Every byte survives k = 1 unchanged.
    const Thresholds t = DefaultThresholds();
    for (int v = 0; v < 256; ++v) EXPECT_EQ(static_cast<int>(t.K * static_cast<long double>(v)), v);
}

TEST(PixelRule, BlanketTreatmentUsesRawChannels) {
    // No 0 -> 1 substitution outside the test: (100, 0, 0) becomes black.
    const Thresholds t = DefaultThresholds();
    uint8_t p[3] = {0, 0, 100};
    WriteClearedPixel(p, p[1], p[0], t);
    EXPECT_EQ(p[0] + p[1] + p[2], 0);
}

TEST(PixelRule, DefaultRatiosNeverLetAChangedPixelPassAgain) {
    // The walk relies on this to end without a visited mark.
    for (int grey = 0; grey < 2; ++grey)
        for (int a : {0, 1, 20, 50, 80, 99, 100}) {
            EditSettings s = DefaultEditSettings(".");
            s.Attenuation = a;
            s.ForceGrey = grey;
            const Thresholds t = Convert(s);
            ASSERT_FALSE(ThresholdsLetChangedPixelsPass(t));
            for (int r = 0; r < 256; r += 3)
                for (int g = 0; g < 256; g += 5)
                    for (int b = 0; b < 256; b += 7) {
                        uint8_t p[3] = {uint8_t(b), uint8_t(g), uint8_t(r)};
                        if (!ClearRedPixel(p, t)) continue;
                        ASSERT_FALSE(ClearRedPixel(p, t)) << r << "," << g << "," << b << " A=" << a;
                    }
        }
}

struct TextCase {
    const char* text;
    const char* sep;
    bool ok;
    long double value;
};

TEST(ThresholdText, DelphiLikeGrammar) {
    const TextCase cases[] = {
        {"1.6", ".", true, 1.6L},  {" 1.6 ", ".", true, 1.6L}, {"+2", ".", true, 2.0L},   {"-0.5", ".", true, -0.5L},
        {"1.", ".", true, 1.0L},   {".5", ".", true, 0.5L},    {"1e1", ".", true, 10.0L}, {"2.5E-1", ".", true, 0.25L},
        {"1,6", ",", true, 1.6L},  {"1,6", ".", false, 0},     {"1.6", ",", false, 0},    {"", ".", false, 0},
        {" ", ".", false, 0},      {".", ".", false, 0},       {"1e", ".", false, 0},     {"abc", ".", false, 0},
        {"1.6x", ".", false, 0},   {"inf", ".", false, 0},     {"nan", ".", false, 0},    {"1e99999", ".", false, 0},
        {"0x10", ".", false, 0},   {"1 6", ".", false, 0},     {"\t1", ".", false, 0},    {"1,000.5", ".", false, 0},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "' with '" + c.sep + "'");
        const auto v = TextToExtended(c.text, c.sep);
        ASSERT_EQ(v.has_value(), c.ok);
        if (c.ok) {
            EXPECT_EQ(*v, c.value);
        }
    }
}

TEST(ThresholdText, RedLevelIsDoublePrecision) {
    const auto d = TextToDouble("35.1", ".");
    ASSERT_TRUE(d);
    EXPECT_EQ(*d, 35.1);
}

TEST(ThresholdText, ConversionMessages) {
    EditSettings s = DefaultEditSettings(".");
    s.ThresholdRB = "1.1.1";
    ThresholdConversion c = ConvertThresholds(s, ".");
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.error, "'1.1.1' is not a valid floating point value");
    // The ratios are read before the red level.
    s.ThresholdR = "lots";
    s.ThresholdRG = "";
    c = ConvertThresholds(s, ".");
    EXPECT_EQ(c.error, "'' is not a valid floating point value");
    s = DefaultEditSettings(".");
    s.ThresholdR = "lots";
    c = ConvertThresholds(s, ".");
    EXPECT_EQ(c.error, "Could not convert variant of type (String) into type (Double)");
    s = DefaultEditSettings(",");
    EXPECT_TRUE(ConvertThresholds(s, ",").ok);
    EXPECT_FALSE(ConvertThresholds(s, ".").ok);
}

// Builds de_DE.UTF-8 into a temporary folder when the system lacks it.
class CommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
            active_ = true;
            return;
        }
        if (!HaveTool("localedef")) GTEST_SKIP() << "no comma-decimal locale and no localedef";
        dir_ = std::make_unique<TempDir>();
        const std::string target = *dir_ / "de_DE.UTF-8";
        if (RunShell("localedef -i de_DE -f UTF-8 " + Quote(target) + " >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "could not generate de_DE.UTF-8";
        setenv("LOCPATH", dir_->path().c_str(), 1);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 did not load";
        active_ = true;
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        unsetenv("LOCPATH");
    }
    bool active_ = false;
    std::unique_ptr<TempDir> dir_;
};

TEST_F(CommaLocale, ThresholdsUseTheUsersSeparator) {
    ASSERT_TRUE(active_);
    const std::string sep = UserDecimalSeparator();
    ASSERT_EQ(sep, ",");
    const EditSettings s = DefaultEditSettings(sep);
    EXPECT_EQ(s.ThresholdRG, "1,6");
    const ThresholdConversion c = ConvertThresholds(s, sep);
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(c.thresholds.RatioRG, 1.6L);
    EXPECT_EQ(c.thresholds.RatioRB, 1.1L);
    // The C library's own parsing is under the comma locale now; ours is not
    // thrown by it.
    EXPECT_FALSE(TextToExtended("1.6", sep));
    EditSettings fraction = s;
    fraction.ThresholdR = "35,5";
    const ThresholdConversion f = ConvertThresholds(fraction, sep);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.thresholds.Red, 35.5);
}

}  // namespace
