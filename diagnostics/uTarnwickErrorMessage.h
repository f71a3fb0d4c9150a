#pragma once

#include "diagnostics/uFunctions.h"

// The message object of this program: accepts its own id besides the
// common ones and marks main-window errors.
class TTarnwickErrorMessage : public TCommonErrorMessage {
public:
  QString GetDisplayText() const override;
  bool SetMessage(TErrorDisplayStatus aStatus, TAppId anApp, std::uint16_t anErrorCode,
                  const QString& Msg) override;
};
