#include "app/WindowsVersion.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowsVersion, ClassificationTable) {
  struct Row {
    unsigned long major, minor, build;
    int expected;
  };
  const Row rows[] = {
      {10, 0, 19045, 10},  // Windows 10 22H2
      {10, 0, 21999, 10}, {10, 0, 22000, 11}, {10, 0, 26100, 11},
      {11, 0, 0, 10},                                           // any major from 10 on counts by its build
      {6, 3, 9600, 8},                                          // 8.1
      {6, 2, 9200, 8},    {6, 1, 7601, 7},    {6, 0, 6002, 7},  // Vista counts as 7
      {5, 1, 2600, -1},   {0, 0, 0, -1},                        // the query failed
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ClassifyWindowsVersion(row.major, row.minor, row.build), row.expected)
        << row.major << "." << row.minor << "." << row.build;
  }
}

TEST(WindowsVersion, TheTestBedReportsWindows10OrLater) {
  // The bed's prefix is set to Windows 10; the true-version query must see it
  // whatever the test binary's manifest says.
  EXPECT_GE(GetWindowsVersion(), 10);
}

}  // namespace
