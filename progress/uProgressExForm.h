#pragma once

#include "progress/uProgressEx.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// "hh:mm:ss" with at least two digits each; hours may take more.
QString ProgressTimeText(std::int64_t ASeconds);

// A level as one line: "2. Analyzing deleted files... ( 5000 objects)", or
// "3. Building tree..." when the level has no positive count.
QString ProgressLevelLine(const IProgressExInfo& AItem);

// The borderless window over the main window while progress levels are open:
// the outermost level and its direct children as rows with their status, the
// current step, a bar, elapsed and remaining time, and a Cancel button. It
// pumps the message queue inside notifications, which is how the interface
// stays alive and Cancel is heard while long work runs on this thread.
class TProgressExForm : public QWidget {
  Q_OBJECT

public:
  // Children are listed only while the open levels together count no more
  // than this many units, so a recovery of a dozen files lists each file and
  // a scan of thousands of records lists none.
  static constexpr std::int64_t MaxListedSubCount = 20;
  static constexpr int BarMaximum = 1000;

  // The window has no owner; it is placed centred over AAnchor's window (the
  // screen when there is none) and kept above it.
  explicit TProgressExForm(QWidget* AAnchor);

  void AddItem(IProgressExInfo& AItem);
  void UpdateItem(IProgressExInfo& AItem);
  void CloseItem(IProgressExInfo& AItem);
  void Detail(IProgressExInfo& AItem, const std::string& AMessage, TProgressDetailStatus AStatus);

private:
  void BuildLayout();
  void PlaceOver(QWidget* AAnchor);
  void btnCancelClick();
  QTreeWidgetItem* FindRow(std::int32_t AId) const;
  QTreeWidgetItem* AddRow(const IProgressExInfo& AItem, const QString& ALine);
  void RefreshFigures(const IProgressExInfo& AItem);
  void ShowDetailMessage(const QString& AText);
  void CancelIfRequested(IProgressExInfo& AItem);
  static void PumpMessages();

  bool FCanceled = false;
  std::int64_t FSubCount = 0;

  QLabel* lblDetailMessage = nullptr;
  QLabel* lblElapsed = nullptr;
  QLabel* lblRest = nullptr;
  QProgressBar* pbProgress = nullptr;
  QTreeWidget* lvItems = nullptr;
  QPushButton* btnCancel = nullptr;
};

// The progress window's side of the progress service: creates the window
// when an outermost level opens and destroys it when that level closes, so
// each operation gets a fresh window with a fresh cancel flag.
class TProgressExFormView : public IProgressExView {
public:
  explicit TProgressExFormView(QWidget* AAnchor = nullptr);
  ~TProgressExFormView() override;
  TProgressExFormView(const TProgressExFormView&) = delete;
  TProgressExFormView& operator=(const TProgressExFormView&) = delete;

  // The window the next progress window is centred over; the main window
  // sets itself here once it exists.
  void SetAnchor(QWidget* AAnchor);
  // The window while levels are open, else nil.
  TProgressExForm* Form() const;

  void AddItem(IProgressExInfo& AItem) override;
  void UpdateItem(IProgressExInfo& AItem) override;
  void CloseItem(IProgressExInfo& AItem) override;
  void Detail(IProgressExInfo& AItem, const std::string& AMessage,
              TProgressDetailStatus AStatus) override;

private:
  TProgressExForm& GetForm();
  void FreeForm();

  std::int32_t FItemCount = 0;
  QPointer<TProgressExForm> FForm;
  QPointer<QWidget> FAnchor;
};

// Keeps a progress window view registered with ProgressEx for its own
// lifetime. The program makes one at start-up, after the application object
// and before the main window, and hands it the main window as anchor.
class TProgressExFormRegistration {
public:
  explicit TProgressExFormRegistration(QWidget* AAnchor = nullptr);
  ~TProgressExFormRegistration();
  TProgressExFormRegistration(const TProgressExFormRegistration&) = delete;
  TProgressExFormRegistration& operator=(const TProgressExFormRegistration&) = delete;

  TProgressExFormView& View() const { return *FView; }

private:
  std::shared_ptr<TProgressExFormView> FView;
};
