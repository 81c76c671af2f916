// Bitmap resources by integer identifier and by name.

#include "platform/Resources.h"

#include <gtest/gtest.h>

TEST(Resources, ByIdentifierAndByName)
{
    for (int id = 0; id <= 9; ++id) {
        const QImage digit = LoadBitmapResource(id);
        ASSERT_FALSE(digit.isNull()) << id;
        EXPECT_EQ(digit.size(), QSize(7, 11)) << id;
    }
    EXPECT_EQ(LoadBitmapResource(QStringLiteral("CHARK")).size(), QSize(7, 11));
    EXPECT_EQ(LoadBitmapResource(QStringLiteral("percent")).size(), QSize(7, 11))
        << "names are looked up in capitals";
    EXPECT_EQ(LoadBitmapResource(QStringLiteral("ON")).size(), QSize(16, 2));
    EXPECT_EQ(LoadBitmapResource(QStringLiteral("OFF")).size(), QSize(16, 2));
}

TEST(Resources, MissingOnesAreNull)
{
    EXPECT_TRUE(LoadBitmapResource(10).isNull());
    EXPECT_TRUE(LoadBitmapResource(-1).isNull());
    EXPECT_TRUE(LoadBitmapResource(QStringLiteral("NOSUCH")).isNull());
    EXPECT_TRUE(LoadBitmapResource(QStringLiteral("../PrVardo")).isNull());
}
