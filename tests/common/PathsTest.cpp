#include <gtest/gtest.h>

#include "common/Bitmap.h"
#include "common/Paths.h"

using namespace scarlex;

TEST(Paths, ChangeExtensionTouchesOnlyTheFileName) {
    EXPECT_EQ(ChangeFileExt("/home/a/IMG_0001.jpg", " - nre.jpg"), "/home/a/IMG_0001 - nre.jpg");
    EXPECT_EQ(ChangeFileExt("/home/a/IMG.0001.JPG", ".OGL"), "/home/a/IMG.0001.OGL");
    // A dot in a folder is not an extension.
    EXPECT_EQ(ChangeFileExt("/home/my.photos/IMG_0001", ".jpg"), "/home/my.photos/IMG_0001.jpg");
    EXPECT_EQ(ChangeFileExt("/x/name.", ".jpg"), "/x/name.jpg");
    EXPECT_EQ(ChangeFileExt("name..", "_1.jpg"), "name._1.jpg");
    EXPECT_EQ(ChangeFileExt(".hidden", ".jpg"), ".jpg");
    EXPECT_EQ(ChangeFileExt("", ".jpg"), ".jpg");
}

TEST(Paths, PartsOfAPath) {
    EXPECT_EQ(ExtractFilePath("/a.b/c/IMG.0001.JPG"), "/a.b/c/");
    EXPECT_EQ(ExtractFileName("/a.b/c/IMG.0001.JPG"), "IMG.0001.JPG");
    EXPECT_EQ(ExtractFileExt("/a.b/c/IMG.0001.JPG"), ".JPG");
    EXPECT_EQ(ExtractFileExt("/a.b/c/README"), "");
    EXPECT_EQ(ExtractFileExt("/a/trailing."), ".");
    EXPECT_EQ(ExtractFilePath("plain.jpg"), "");
    EXPECT_EQ(ExtractFileName("/dir/"), "");
}

TEST(Paths, JpgAcceptanceAndEquality) {
    EXPECT_TRUE(HasJpgExtension("a.jpg"));
    EXPECT_TRUE(HasJpgExtension("/x/a.JpG"));
    EXPECT_FALSE(HasJpgExtension("a.jpeg"));
    EXPECT_FALSE(HasJpgExtension("/x.jpg/a"));
    EXPECT_FALSE(HasJpgExtension("a.jpg.png"));
    EXPECT_TRUE(SamePath("/a/b.jpg", "/a/b.jpg"));
    EXPECT_FALSE(SamePath("/a/b.jpg", "/a/B.jpg"));
    EXPECT_EQ(IncludeTrailingSlash("/a"), "/a/");
    EXPECT_EQ(IncludeTrailingSlash("/a/"), "/a/");
}

TEST(BitmapTest, RowsArePaddedAndPixelsComparedWithoutPadding) {
    Bitmap a(5, 3), b(5, 3);
    EXPECT_EQ(a.Stride(), 16u);
    a.Row(1)[15] = 99;  // padding byte
    EXPECT_TRUE(a.SamePixels(b));
    a.Pixel(4, 2)[2] = 1;
    EXPECT_FALSE(a.SamePixels(b));
    Bitmap c(-3, 2);
    EXPECT_TRUE(c.Empty());
}
