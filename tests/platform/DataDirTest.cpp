// The data folder and the lists made from it.
#include "platform/DataDir.h"

#include <gtest/gtest.h>

using namespace marlix;

TEST(DataDir, ListsCodePagesByNameUpToTheFirstDot) {
    // Read once per process; the test sets it before anything asks.
    qputenv("MARLIX_DATA", MARLIX_SOURCE_DATA);
    EXPECT_EQ(dataDirectory(), QStringLiteral(MARLIX_SOURCE_DATA));
    QStringList names = dataFileNames(QStringLiteral("*.cp"));
    names.sort();
    EXPECT_EQ(names, (QStringList{"1251", "437", "850", "852", "866"}));
    EXPECT_EQ(dataFile(QStringLiteral("866.cp")), QStringLiteral(MARLIX_SOURCE_DATA "/866.cp"));
}
