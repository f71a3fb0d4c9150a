#pragma once

#include <cstdint>

#include <QDialog>

class QLocale;

// The Windows language id of Arabic (Saudi Arabia), the one language whose
// dialogs are laid out right to left.
inline constexpr std::int32_t LangIdArabic = 1025;

// An integer value of the user's Tarnwick configuration, read only. Without a
// configuration the answer is 0 and nothing is said; a missing or unreadable
// value is logged silently and also gives 0.
std::int32_t ReadUserConfigInteger(const QString& AName);

// The Windows language id of a locale's language, as its display language
// there; 0 for a language without one.
std::int32_t WindowsLanguageId(const QLocale& ALocale);

// The language id that decides the layout: the "LCID" value of the user's
// configuration, else the user interface language.
std::int32_t UserInterfaceLanguageId();

// A dialog that follows the reading direction of the user interface language.
class TMultiForm : public QDialog {
public:
  explicit TMultiForm(QWidget* AParent = nullptr);
};
