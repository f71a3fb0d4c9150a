#include <QIcon>
#include <QSize>

#include <gtest/gtest.h>

#include <sstream>

#include "app/uMain.h"
#include "diagnostics/uFunctions.h"
#include "tests/support/QtTestMain.h"

namespace {

// The icon as the build renders it into share/icons is found by Qt's theme
// lookup under the application id, at every size a desktop asks for, as it
// is under an install prefix that the program adds to the search paths.
TEST(InstalledData, TheIconIsFoundInTheHicolorThemeUnderTheApplicationId) {
  const QStringList SavedPaths = QIcon::themeSearchPaths();
  const QString SavedTheme = QIcon::themeName();
  QIcon::setThemeSearchPaths({QStringLiteral(TARNWICK_BUILD_DATADIR "/icons"), QStringLiteral("/usr/share/icons")});
  QIcon::setThemeName(QStringLiteral("hicolor"));
  // The theme is searched when the icon is first drawn, so the settings stay
  // until then.
  const QIcon Icon = QIcon::fromTheme(QString::fromLatin1(ApplicationId));
  EXPECT_FALSE(Icon.isNull());
  const QList<QSize> Sizes = Icon.availableSizes();
  for (const int Size : {16, 22, 24, 32, 48, 64, 128, 256})
    EXPECT_TRUE(Sizes.contains(QSize(Size, Size))) << Size;
  QIcon::setThemeName(SavedTheme);
  QIcon::setThemeSearchPaths(SavedPaths);
}

struct TCommandLineCase {
  std::vector<std::string> Arguments;
  std::optional<int> ExitCode;
  std::string Printed; // the start of what is printed
};

class CommandLine : public ::testing::TestWithParam<TCommandLineCase> {};

// --help and --version answer at once, wherever they stand; the toolkit's own
// options and anything else start the wizard as before.
TEST_P(CommandLine, AnswersHelpAndVersionAndLeavesTheRestToTheWizard) {
  std::vector<std::string> Arguments{"tarnwick"};
  Arguments.insert(Arguments.end(), GetParam().Arguments.begin(), GetParam().Arguments.end());
  std::vector<char*> Argv;
  for (std::string& Argument : Arguments)
    Argv.push_back(Argument.data());
  std::ostringstream Out;
  EXPECT_EQ(AnswerCommandLine(static_cast<int>(Argv.size()), Argv.data(), Out), GetParam().ExitCode);
  EXPECT_EQ(Out.str().substr(0, GetParam().Printed.size()), GetParam().Printed);
  if (GetParam().Printed.empty()) {
    EXPECT_EQ(Out.str(), "");
  }
}

const std::string Version = "tarnwick " + GetSelfApplicationVersion().toStdString() + "\n";

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLine,
    ::testing::Values(TCommandLineCase{{}, std::nullopt, ""},
                      TCommandLineCase{{"-platform", "offscreen", "-style", "fusion"}, std::nullopt, ""},
                      TCommandLineCase{{"--version"}, 0, Version},
                      TCommandLineCase{{"-platform", "offscreen", "-v"}, 0, Version},
                      TCommandLineCase{{"--help"}, 0, "Finds deleted files"},
                      TCommandLineCase{{"-h", "--version"}, 0, "Finds deleted files"}));

}  // namespace

int main(int argc, char** argv) { return RunTestsInside<TTarnwickApplication>(argc, argv); }
