#include "diagnostics/uTarnwickErrorMessage.h"

namespace {
constexpr std::uint16_t MainFormErrorCode = 1;
}

QString TTarnwickErrorMessage::GetDisplayText() const {
  if (FAppId != AID_Tarnwick)
    return TCommonErrorMessage::GetDisplayText();
  if (FErrorCode == MainFormErrorCode)
    return QStringLiteral("[MainForm Error]: ") + FMSG;
  return FMSG;
}

bool TTarnwickErrorMessage::SetMessage(TErrorDisplayStatus aStatus, TAppId anApp,
                                       std::uint16_t anErrorCode, const QString& Msg) {
  const bool AcceptedAsCommon = TCommonErrorMessage::SetMessage(aStatus, anApp, anErrorCode, Msg);
  return AcceptedAsCommon || anApp == AID_Tarnwick;
}
