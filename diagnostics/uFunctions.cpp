#include "diagnostics/uFunctions.h"

#include <array>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSysInfo>

namespace {

struct TErrorLogState {
  std::unique_ptr<TCommonErrorMessage> Message;
  std::function<QString()> LogPath;
  TErrorMessageBox MessageBox;
};

TErrorLogState& State() {
  static TErrorLogState Instance;
  return Instance;
}

// Codes of the common ids; any other code has no display text.
enum : std::uint16_t {
  ecPlainMessage = 1,
  ecCopyFile = 5,
  ecFileMissing = 6,
  ecCannotOpenFile = 7,
  ecSameFolders = 8,
};

bool IsCommonId(TAppId AId) { return AId == AID_Common_Components || AId == AID_Common_Forms; }

// "short date, a blank, long time" in the user's locale.
QString NowAsLocalText() {
  const QDateTime Now = QDateTime::currentDateTime();
  const QLocale Locale = QLocale::system();
  return Locale.toString(Now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         Locale.toString(Now.time(), QLocale::LongFormat);
}

QByteArray Utf16LittleEndian(const QString& AText) {
  QByteArray Bytes;
  Bytes.reserve(AText.size() * 2);
  for (const QChar Unit : AText) {
    Bytes.append(static_cast<char>(Unit.unicode() & 0xFF));
    Bytes.append(static_cast<char>(Unit.unicode() >> 8));
  }
  return Bytes;
}

}  // namespace

QString AppIdName(TAppId AId) {
  static const std::array<const char*, 5> Names = {
      "Common_Components", "Common_Forms", "Tarnwick", "Tarnwick_Cli", "Tarnwick_Image_Tools"};
  return AId < Names.size() ? QString::fromLatin1(Names[AId]) : QString();
}

QString TCommonErrorMessage::GetAppName() const { return AppIdName(FAppId); }

bool TCommonErrorMessage::SetMessage(TErrorDisplayStatus aStatus, TAppId anApp,
                                     std::uint16_t anErrorCode, const QString& Msg) {
  FStatus = aStatus;
  FAppId = anApp;
  FErrorCode = anErrorCode;
  FMSG = Msg;
  return IsCommonId(anApp);
}

QString TCommonErrorMessage::GetDisplayText() const {
  if (!IsCommonId(FAppId))
    return QString();
  switch (FErrorCode) {
    case ecPlainMessage:
      return FMSG;
    case ecCopyFile:
      return QStringLiteral("[Copy File]") + FMSG;
    case ecFileMissing:
      return QStringLiteral("File \"") + FMSG + QStringLiteral("\"does not exists!");
    case ecCannotOpenFile:
      return QStringLiteral("Can't open file : ") + FMSG + QSysInfo::prettyProductName();
    case ecSameFolders:
      return QStringLiteral("Unable to copy file. Source and destination folders do coincide!");
    default:
      return QString();
  }
}

QString TCommonErrorMessage::GetLogText() const {
  const QString Code = QStringLiteral("%1").arg(FErrorCode, 4, 16, QLatin1Char('0')).toUpper();
  return GetAppName() + QLatin1Char(':') + Code + QLatin1Char(' ') + GetDisplayText();
}

std::int32_t ShowErrorMessage(TErrorDisplayStatus aStatus, TAppId anApp,
                              std::uint16_t anErrorCode, const QString& Msg) {
  TCommonErrorMessage* Message = State().Message.get();
  if (!Message)
    return mrNone;
  if (!Message->SetMessage(aStatus, anApp, anErrorCode, Msg)) {
    WriteErrorLog(
        QStringLiteral("Error message system tries to write message with invalid application ID. "
                       "AppName = ") +
        AppIdName(anApp) + QLatin1Char('.'));
    return mrNone;
  }
  WriteErrorLog(Message->LogText());
  return ShowMessageBox(Message->Status(), Message->DisplayText());
}

std::int32_t ShowMessageBox(TErrorDisplayStatus AStatus, const QString& AText) {
  if (AStatus == edsSilent || !State().MessageBox)
    return mrNone;
  return State().MessageBox(AStatus, AText);
}

// The log is a diagnostic aid: a folder without rights, a locked file or a
// full disk must never disturb the caller, so every failure is swallowed.
void WriteErrorLog(const QString& AText) {
  const QString Path = ErrorLogFilePath();
  if (Path.isEmpty() || !QDir().mkpath(QFileInfo(Path).absolutePath()))
    return;
  QFile Log(Path);
  if (!Log.open(QIODevice::WriteOnly | QIODevice::Append))
    return;
  Log.write(Utf16LittleEndian(NowAsLocalText() + QStringLiteral(" : ") + AText +
                              QStringLiteral("\r\n")));
}

QString GetSelfApplicationVersion() { return QStringLiteral(TARNWICK_VERSION); }

void SetErrorMessageObject(std::unique_ptr<TCommonErrorMessage> AMessage) {
  State().Message = std::move(AMessage);
}

void SetErrorLogPath(std::function<QString()> APath) { State().LogPath = std::move(APath); }

QString ErrorLogFilePath() { return State().LogPath ? State().LogPath() : QString(); }

void SetErrorMessageBox(TErrorMessageBox ABox) { State().MessageBox = std::move(ABox); }
