#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QString>

// How a diagnostic message is shown.
enum TErrorDisplayStatus {
  edsSilent,        // written to Err.log only
  edsInformation,   // message boxes with one OK button of that kind
  edsWarning,
  edsError,
  edsConfirmation,  // a question with Yes (the default) and No
};

// The ids of the maker's products, one list shared by all of them. Only the
// two common ids and this program's own id are accepted here.
enum TAppId : std::uint8_t {
  AID_Common_Components,
  AID_Common_Forms,
  AID_Tarnwick,
  AID_Tarnwick_Cli,
  AID_Tarnwick_Image_Tools,
};

// The button that closed a message box, as the platform's modal result.
enum : std::int32_t { mrNone = 0, mrOk = 1, mrYes = 6, mrNo = 7 };

// A diagnostic message: formats what the user sees and what the log keeps.
class TCommonErrorMessage {
public:
  virtual ~TCommonErrorMessage() = default;

  TErrorDisplayStatus Status() const { return FStatus; }
  TAppId AppId() const { return FAppId; }
  std::uint16_t ErrorCode() const { return FErrorCode; }
  QString AppName() const { return GetAppName(); }
  QString DisplayText() const { return GetDisplayText(); }
  QString LogText() const { return GetLogText(); }

  virtual QString GetLogText() const;
  virtual QString GetDisplayText() const;
  // Stores the four values and answers whether this class accepts the id.
  virtual bool SetMessage(TErrorDisplayStatus aStatus, TAppId anApp, std::uint16_t anErrorCode,
                          const QString& Msg);

  QString GetAppName() const;

protected:
  TErrorDisplayStatus FStatus = edsSilent;
  TAppId FAppId = AID_Common_Components;
  std::uint16_t FErrorCode = 0;
  QString FMSG;
};

// The name of an application id; empty for an id without one.
QString AppIdName(TAppId AId);

// Logs the message and shows it as its status says. Returns the button that
// closed the box, or mrNone when nothing was shown.
std::int32_t ShowErrorMessage(TErrorDisplayStatus aStatus, TAppId anApp,
                              std::uint16_t anErrorCode, const QString& Msg);

// Shows AText in the installed box of the status's kind without logging it.
// Returns the button that closed the box, or mrNone when nothing was shown.
std::int32_t ShowMessageBox(TErrorDisplayStatus AStatus, const QString& AText);

// Appends one entry to Err.log. Never fails towards its caller.
void WriteErrorLog(const QString& AText);

// The version of the running program, "2.5.17.0".
QString GetSelfApplicationVersion();

// Process-wide state, set at start-up and cleared at shutdown.
// The message object that every ShowErrorMessage formats with.
void SetErrorMessageObject(std::unique_ptr<TCommonErrorMessage> AMessage);
// The full path of Err.log, asked at every write: the per-user data folder
// may be set after the log's name is.
void SetErrorLogPath(std::function<QString()> APath);
// The full path Err.log is written to now; empty while none is set.
QString ErrorLogFilePath();
// Shows a message box of the status's kind; the GUI installs one, tests a
// recorder. Without one nothing is shown and mrNone comes back.
using TErrorMessageBox = std::function<std::int32_t(TErrorDisplayStatus AStatus, const QString& AText)>;
void SetErrorMessageBox(TErrorMessageBox ABox);

// The log's file name inside the per-user data folder.
inline constexpr const char* ErrorLogFileName = "Err.log";
