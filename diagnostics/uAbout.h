#pragma once

#include <functional>

#include <QLabel>

#include "diagnostics/uMultiForm.h"

class QGroupBox;
class QPushButton;

// A label that looks and acts like a web link.
class TLinkLabel : public QLabel {
public:
  TLinkLabel(const QString& AText, std::function<void()> AOnClick, QWidget* AParent = nullptr);

protected:
  void mouseReleaseEvent(QMouseEvent* AEvent) override;

private:
  std::function<void()> FOnClick;
};

// The about box: product, version, the product's links, and the problem
// report that mails the error log to support.
class TAboutDialog : public TMultiForm {
public:
  explicit TAboutDialog(QWidget* AOwner);

  QGroupBox* gbProduct = nullptr;
  QLabel* lVersion = nullptr;
  QLabel* Label2 = nullptr;
  QGroupBox* gbInformation = nullptr;
  TLinkLabel* lSite = nullptr;
  TLinkLabel* lEMail = nullptr;
  QPushButton* btnSendErrLog = nullptr;
  QPushButton* btnOk = nullptr;

  void btnSendErrLogClick();
  void RxLabel1Click();
  void RxLabel2Click();

private:
  void FormCreate();
  void PackAndSendErrorLog(const QString& ALogPath);
};

// The product's addresses.
extern const QString ProductSiteAddress;
extern const QString SupportEmailAddress;
