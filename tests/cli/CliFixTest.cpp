#include <gtest/gtest.h>

#include <filesystem>

#include "codec/JpegCodec.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

// Several edits on one command line, as the run script fixes both pupils of
// the sample: each one is an undo row of the saved file.
TEST(CliFix, EveryEditOptionOfTheCommandLineIsApplied) {
    const std::string sample = std::string(SCARLEX_SOURCE_DIR) + "/samples/sample.jpg";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no sample photograph";
    TempDir dir;
    std::filesystem::copy_file(sample, dir / "sample.jpg");
    std::string out;
    ASSERT_EQ(RunShell(Quote(CliPath()) + " fix " + Quote(dir / "sample.jpg") +
                           " --attenuation 10 --click 652,540 --click 948,540 2>&1",
                       &out),
              0)
        << out;
    EXPECT_NE(out.find("undo rows: 2"), std::string::npos) << out;
    Bitmap fixed;
    Sampling s;
    ASSERT_TRUE(DecodeJpegToBitmap(dir / "sample - nre.jpg", fixed, s).ok);
    for (int x : {652, 948}) {
        SCOPED_TRACE(x);
        const uint8_t* p = fixed.Pixel(x, 540);
        EXPECT_LT(p[2], 2 * p[1]);  // red no longer dominant
    }
}
