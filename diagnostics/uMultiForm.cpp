#include "diagnostics/uMultiForm.h"

#include <QFileInfo>
#include <QLocale>
#include <QSettings>

#include "diagnostics/uFunctions.h"

namespace {

void LogSilently(const QString& AText) { ShowErrorMessage(edsSilent, AID_Common_Forms, 1, AText); }

struct TLanguageId {
  QLocale::Language Language;
  QLocale::Territory Territory;  // AnyTerritory: every territory not listed
  std::int32_t Id;
};

// Windows display languages. Windows has one Arabic display language,
// Arabic (Saudi Arabia), so every Arabic locale reads as 1025 there.
constexpr TLanguageId kLanguageIds[] = {
    {QLocale::Arabic, QLocale::AnyTerritory, LangIdArabic},
    {QLocale::Chinese, QLocale::Taiwan, 1028},
    {QLocale::Chinese, QLocale::HongKong, 3076},
    {QLocale::Chinese, QLocale::AnyTerritory, 2052},
    {QLocale::Czech, QLocale::AnyTerritory, 1029},
    {QLocale::Danish, QLocale::AnyTerritory, 1030},
    {QLocale::German, QLocale::AnyTerritory, 1031},
    {QLocale::Greek, QLocale::AnyTerritory, 1032},
    {QLocale::English, QLocale::UnitedKingdom, 2057},
    {QLocale::English, QLocale::AnyTerritory, 1033},
    {QLocale::Spanish, QLocale::Mexico, 2058},
    {QLocale::Spanish, QLocale::AnyTerritory, 3082},
    {QLocale::Finnish, QLocale::AnyTerritory, 1035},
    {QLocale::French, QLocale::Canada, 3084},
    {QLocale::French, QLocale::AnyTerritory, 1036},
    {QLocale::Hebrew, QLocale::AnyTerritory, 1037},
    {QLocale::Hungarian, QLocale::AnyTerritory, 1038},
    {QLocale::Italian, QLocale::AnyTerritory, 1040},
    {QLocale::Japanese, QLocale::AnyTerritory, 1041},
    {QLocale::Korean, QLocale::AnyTerritory, 1042},
    {QLocale::Dutch, QLocale::AnyTerritory, 1043},
    {QLocale::NorwegianBokmal, QLocale::AnyTerritory, 1044},
    {QLocale::Polish, QLocale::AnyTerritory, 1045},
    {QLocale::Portuguese, QLocale::Portugal, 2070},
    {QLocale::Portuguese, QLocale::AnyTerritory, 1046},
    {QLocale::Russian, QLocale::AnyTerritory, 1049},
    {QLocale::Swedish, QLocale::AnyTerritory, 1053},
    {QLocale::Turkish, QLocale::AnyTerritory, 1055},
    {QLocale::Ukrainian, QLocale::AnyTerritory, 1058},
};

}  // namespace

std::int32_t ReadUserConfigInteger(const QString& AName) {
  try {
    // The organisation's own file stands for the program's registry key.
    const QSettings Settings(QStringLiteral("Tarnwick"));
    if (!QFileInfo::exists(Settings.fileName()) || Settings.status() == QSettings::AccessError)
      return 0;
    if (Settings.status() == QSettings::FormatError) {
      LogSilently(QStringLiteral(" r.03005_int"));
      return 0;
    }
    bool IsInteger = false;
    const std::int32_t Value = Settings.value(AName).toInt(&IsInteger);
    if (!IsInteger) {
      LogSilently(QStringLiteral(" r.03004_int"));
      return 0;
    }
    return Value;
  } catch (...) {
    LogSilently(QStringLiteral(" r.03006_int"));
    return 0;
  }
}

std::int32_t WindowsLanguageId(const QLocale& ALocale) {
  for (const TLanguageId& Entry : kLanguageIds)
    if (Entry.Language == ALocale.language() &&
        (Entry.Territory == QLocale::AnyTerritory || Entry.Territory == ALocale.territory()))
      return Entry.Id;
  return 0;
}

std::int32_t UserInterfaceLanguageId() {
  const std::int32_t Configured = ReadUserConfigInteger(QStringLiteral("LCID"));
  if (Configured != 0)
    return Configured;
  const QStringList Languages = QLocale().uiLanguages();
  return Languages.isEmpty() ? 0 : WindowsLanguageId(QLocale(Languages.first()));
}

TMultiForm::TMultiForm(QWidget* AParent) : QDialog(AParent) {
  try {
    if (UserInterfaceLanguageId() == LangIdArabic)
      setLayoutDirection(Qt::RightToLeft);
  } catch (...) {
    LogSilently(QStringLiteral("[TMultiForm.CreateParams] can not get UILang"));
  }
}
