#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include <jpeglib.h>

#include "support/TestSupport.h"
#include "transform/CoefficientRange.h"
#include "transform/TransformSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

using Edit = std::function<void(j_decompress_ptr, jvirt_barray_ptr*)>;

void SetCoefficient(j_decompress_ptr src, jvirt_barray_ptr* arrays, int ci, int bx, int by, int k, int value) {
    JBLOCKARRAY row = (*src->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(src), arrays[ci],
                                                      static_cast<JDIMENSION>(by), 1, TRUE);
    row[0][bx][k] = static_cast<JCOEF>(value);
}

void ZeroDc(j_decompress_ptr src, jvirt_barray_ptr* arrays, int ci) {
    const jpeg_component_info& c = src->comp_info[ci];
    for (JDIMENSION by = 0; by < c.height_in_blocks; ++by)
        for (JDIMENSION bx = 0; bx < c.width_in_blocks; ++bx) SetCoefficient(src, arrays, ci, int(bx), int(by), 0, 0);
}

// Reads the file's coefficients, lets `edit` change them, and checks them
// as a writer with the file's own parameters would write them.
UncodableCoefficient Check(const std::string& path, const Edit& edit, unsigned restartInterval = 0,
                           bool arithmetic = false) {
    jpeg_decompress_struct src;
    jpeg_compress_struct dst;
    jpeg_error_mgr e1, e2;
    src.err = jpeg_std_error(&e1);
    dst.err = jpeg_std_error(&e2);
    jpeg_create_decompress(&src);
    jpeg_create_compress(&dst);
    FILE* f = std::fopen(path.c_str(), "rb");
    jpeg_stdio_src(&src, f);
    jpeg_read_header(&src, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&src);
    if (edit) edit(&src, arrays);
    jpeg_copy_critical_parameters(&src, &dst);
    dst.restart_interval = restartInterval;
    dst.arith_code = arithmetic ? TRUE : FALSE;
    UncodableCoefficient u = FindUncodableCoefficient(reinterpret_cast<j_common_ptr>(&src), &dst, arrays);
    jpeg_destroy_compress(&dst);
    jpeg_destroy_decompress(&src);
    std::fclose(f);
    return u;
}

class Range : public ::testing::Test {
protected:
    TempDir dir;
    std::string Make(const std::string& name, TestJpegOptions o) {
        const std::string path = dir / name;
        MakeJpeg(path, 64, 32, o);
        return path;
    }
};

}  // namespace

TEST_F(Range, DcDifferencesFollowTheScanOrderAndItsRestarts) {
    const std::string file = Make("420.jpg", {});  // 4:2:0: luma blocks 0,0 1,0 0,1 1,1 make the first MCU
    EXPECT_FALSE(Check(file, nullptr).found) << "an encoder's own output is always codable";

    // The last luma block of the first MCU and the first of the second:
    // neighbours in the scan, not in raster order.
    const Edit apart = [](j_decompress_ptr src, jvirt_barray_ptr* a) {
        ZeroDc(src, a, 0);
        SetCoefficient(src, a, 0, 1, 1, 0, 1100);
        SetCoefficient(src, a, 0, 2, 0, 0, -1000);
    };
    UncodableCoefficient u = Check(file, apart);
    ASSERT_TRUE(u.found);
    EXPECT_EQ(u.component, 0);
    EXPECT_EQ(u.blockX, 2u);
    EXPECT_EQ(u.blockY, 0u);
    EXPECT_EQ(u.position, 0);
    EXPECT_EQ(u.value, -2100);
    // A restart between the two MCUs starts the prediction again.
    EXPECT_FALSE(Check(file, apart, 1).found);

    // One component is coded in raster order.
    TestJpegOptions grey;
    grey.grayscale = true;
    const std::string g = Make("grey.jpg", grey);
    u = Check(g, [](j_decompress_ptr src, jvirt_barray_ptr* a) {
        ZeroDc(src, a, 0);
        SetCoefficient(src, a, 0, 7, 0, 0, 1100);  // last of the first row
        SetCoefficient(src, a, 0, 0, 1, 0, -1000);
    });
    ASSERT_TRUE(u.found);
    EXPECT_EQ(u.blockX, 0u);
    EXPECT_EQ(u.blockY, 1u);
}

TEST_F(Range, AcValuesMustFitTenBits) {
    const std::string file = Make("444.jpg", [] {
        TestJpegOptions o;
        o.h[0] = o.v[0] = 1;
        return o;
    }());
    auto ac = [](int value) {
        return [value](j_decompress_ptr src, jvirt_barray_ptr* a) { SetCoefficient(src, a, 1, 3, 2, 5, value); };
    };
    EXPECT_FALSE(Check(file, ac(1023)).found);
    EXPECT_FALSE(Check(file, ac(-1023)).found);
    UncodableCoefficient u = Check(file, ac(-1024));
    ASSERT_TRUE(u.found);
    EXPECT_EQ(u.component, 1);
    EXPECT_EQ(u.blockX, 3u);
    EXPECT_EQ(u.blockY, 2u);
    EXPECT_EQ(u.position, 5);
    EXPECT_EQ(u.value, -1024);
}

// Found by the save fuzz target: a damaged arithmetic-coded original whose
// decoded DC values jump by more than the arithmetic decoder's 2^15 was
// written again as it was and came out "bad arithmetic code".
TEST_F(Range, ArithmeticCodingLimitsOnlyTheDcDifferences) {
    TestJpegOptions grey;
    grey.grayscale = true;
    const std::string g = Make("grey.jpg", grey);
    auto pair = [](int first, int second, int ac) {
        return [=](j_decompress_ptr src, jvirt_barray_ptr* a) {
            ZeroDc(src, a, 0);
            SetCoefficient(src, a, 0, 2, 1, 0, first);
            SetCoefficient(src, a, 0, 3, 1, 0, second);
            SetCoefficient(src, a, 0, 5, 2, 9, ac);
        };
    };
    EXPECT_FALSE(Check(g, pair(16384, -16384, -32768), 0, true).found);  // a difference of 2^15, a 16-bit AC
    EXPECT_TRUE(Check(g, pair(100, 200, 3000), 0, false).found);         // far past Huffman's 10 bits
    const UncodableCoefficient u = Check(g, pair(20000, -20000, 0), 0, true);
    ASSERT_TRUE(u.found);
    EXPECT_EQ(u.blockX, 3u);
    EXPECT_EQ(u.blockY, 1u);
    EXPECT_EQ(u.position, 0);
    EXPECT_EQ(u.value, -40000);
}
