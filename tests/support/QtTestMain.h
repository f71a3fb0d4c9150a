#pragma once

#include <ostream>

#include <QString>

#include <gtest/gtest.h>

// Readable failure messages for Qt's strings.
inline void PrintTo(const QString& AText, std::ostream* AOut) { *AOut << '"' << AText.toStdString() << '"'; }

// The main routine of a widget test: the application object lives for the
// whole run, as in the program.
template <typename TApplication>
int RunTestsInside(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  TApplication App(argc, argv);
  return RUN_ALL_TESTS();
}
