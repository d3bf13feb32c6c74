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
    EXPECT_EQ(names, (QStringList{"1250", "1251", "1252", "437", "667", "737", "775",
                                  "850",  "852",  "855",  "857", "858", "860", "861",
                                  "862",  "863",  "865",  "866", "869", "895"}));
    EXPECT_EQ(dataFile(QStringLiteral("866.cp")), QStringLiteral(MARLIX_SOURCE_DATA "/866.cp"));
}
