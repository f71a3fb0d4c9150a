#pragma once

// Points the error log into a test's own folder and records the message
// boxes that would be shown, for the lifetime of the object.

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QStringList>

#include <memory>
#include <vector>

#include "diagnostics/uTarnwickErrorMessage.h"

namespace testfiles {

struct TShownBox {
  TErrorDisplayStatus Status;
  QString Text;
  bool operator==(const TShownBox&) const = default;
};

class TErrorLogCapture {
public:
  explicit TErrorLogCapture(const QString& ALogPath) : FLogPath(ALogPath) {
    SetErrorLogPath([this] { return FLogPath; });
    SetErrorMessageObject(std::make_unique<TTarnwickErrorMessage>());
    SetErrorMessageBox([this](TErrorDisplayStatus AStatus, const QString& AText) {
      Shown.push_back({AStatus, AText});
      return std::int32_t{mrOk};
    });
  }
  ~TErrorLogCapture() {
    SetErrorLogPath(nullptr);
    SetErrorMessageObject(nullptr);
    SetErrorMessageBox(nullptr);
  }
  TErrorLogCapture(const TErrorLogCapture&) = delete;
  TErrorLogCapture& operator=(const TErrorLogCapture&) = delete;

  // The log text of every entry, without its date and time.
  QStringList LogTexts() const {
    QFile File(FLogPath);
    if (!File.open(QIODevice::ReadOnly))
      return {};
    QStringDecoder Decode(QStringDecoder::Utf16LE);
    QStringList Texts;
    for (const QString& Line : QString(Decode(File.readAll())).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
      Texts << Line.mid(Line.indexOf(QStringLiteral(" : ")) + 3);
    return Texts;
  }

  std::vector<TShownBox> Shown;

private:
  QString FLogPath;
};

} // namespace testfiles
