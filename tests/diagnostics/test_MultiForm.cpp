#include "diagnostics/uMultiForm.h"

#include "tests/support/uErrorLogCapture.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <QSettings>

#include <optional>

namespace {

using testfiles::TErrorLogCapture;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What the user's configuration holds.
enum class TConfig { None, Lcid1025, Lcid1033, Lcid0, LcidText, OtherValueOnly };

class MultiFormTest : public ::testing::Test {
protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(FConfig.Path().string()));
  }
  void TearDown() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void WriteConfig(TConfig AConfig) {
    QSettings Settings(QStringLiteral("Tarnwick"));
    switch (AConfig) {
      case TConfig::None: return;
      case TConfig::Lcid1025: Settings.setValue("LCID", 1025); break;
      case TConfig::Lcid1033: Settings.setValue("LCID", 1033); break;
      case TConfig::Lcid0: Settings.setValue("LCID", 0); break;
      case TConfig::LcidText: Settings.setValue("LCID", "arabic"); break;
      case TConfig::OtherValueOnly: Settings.setValue("Other", 1); break;
    }
    Settings.sync();
  }

  int FArgc = 1;
  char FName[16] = "test";
  char* FArgv[1] = {FName};
  QApplication FApp{FArgc, FArgv};
  testfiles::TTempFolder FConfig;
  testfiles::TTempFolder FData;
  TErrorLogCapture FLog{QString::fromStdString((FData / "Err.log").string())};
};

TEST_F(MultiFormTest, LayoutFollowsTheConfiguredLanguageElseTheInterfaceLanguage) {
  const QLocale English(QLocale::English, QLocale::UnitedStates);
  const QLocale Saudi(QLocale::Arabic, QLocale::SaudiArabia);
  const QLocale Egyptian(QLocale::Arabic, QLocale::Egypt);
  struct TCase {
    const char* Name;
    TConfig Config;
    QLocale Language;
    Qt::LayoutDirection Expected;
    const char* Logged;  // nullptr: nothing
  };
  const TCase Cases[] = {
      {"configured Arabic", TConfig::Lcid1025, English, Qt::RightToLeft, nullptr},
      {"configured English on Arabic", TConfig::Lcid1033, Saudi, Qt::LeftToRight, nullptr},
      {"no configuration, Arabic", TConfig::None, Saudi, Qt::RightToLeft, nullptr},
      {"no configuration, English", TConfig::None, English, Qt::LeftToRight, nullptr},
      {"configured 0, Arabic", TConfig::Lcid0, Egyptian, Qt::RightToLeft, nullptr},
      {"value missing, Arabic", TConfig::OtherValueOnly, Egyptian, Qt::RightToLeft, "Common_Forms:0001  r.03004_int"},
      {"value not a number", TConfig::LcidText, English, Qt::LeftToRight, "Common_Forms:0001  r.03004_int"},
  };
  for (const TCase& Case : Cases) {
    testfiles::TTempFolder Config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(Config.Path().string()));
    WriteConfig(Case.Config);
    QLocale::setDefault(Case.Language);
    const QStringList LoggedBefore = FLog.LogTexts();

    TMultiForm Form;

    EXPECT_EQ(Form.layoutDirection(), Case.Expected) << Case.Name;
    const QStringList Logged = FLog.LogTexts().mid(LoggedBefore.size());
    if (Case.Logged)
      EXPECT_THAT(Logged, ElementsAre(QString::fromLatin1(Case.Logged))) << Case.Name;
    else
      EXPECT_THAT(Logged, IsEmpty()) << Case.Name;
    EXPECT_THAT(FLog.Shown, IsEmpty()) << Case.Name;
  }
}

TEST_F(MultiFormTest, AMissingValueIsLoggedEachTimeAWindowIsCreated) {
  WriteConfig(TConfig::OtherValueOnly);
  TMultiForm First;
  TMultiForm Second;
  EXPECT_EQ(FLog.LogTexts(), QStringList(2, QStringLiteral("Common_Forms:0001  r.03004_int")));
}

TEST_F(MultiFormTest, TheInterfaceLanguageReadsAsItsWindowsDisplayLanguage) {
  struct TCase {
    QLocale Locale;
    std::int32_t Expected;
  };
  const TCase Cases[] = {
      {QLocale(QLocale::Arabic, QLocale::SaudiArabia), 1025},
      {QLocale(QLocale::Arabic, QLocale::Morocco), 1025},
      {QLocale(QLocale::English, QLocale::UnitedStates), 1033},
      {QLocale(QLocale::English, QLocale::UnitedKingdom), 2057},
      {QLocale(QLocale::Hebrew, QLocale::Israel), 1037},
      {QLocale(QLocale::Swahili, QLocale::Kenya), 0},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(WindowsLanguageId(Case.Locale), Case.Expected) << Case.Locale.name().toStdString();
}

} // namespace
