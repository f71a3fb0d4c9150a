#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QUrl>

#include "platform/uPrompt.h"
#include "progress/uProgressExForm.h"
#include "wizard/uWizardMain.h"

class QAction;
class QMenu;
class TDriveList;
class TNTFSRecoveryContext;

// What the program asks of the desktop. The desktop implementation opens
// addresses in the user's browser and shows real message boxes; tests put a
// recorder in its place.
class IShellService {
public:
  virtual ~IShellService() = default;
  // Opens a web page or document with its associated program; the answer is
  // not needed, a missing browser is silent.
  virtual void OpenUrl(const QUrl& AUrl) = 0;
  // A modal box with one OK button; AOwner may be null.
  virtual void ShowMessage(QWidget* AOwner, const QString& ACaption, const QString& AText,
                           QMessageBox::Icon AIcon) = 0;
};

class TDesktopShellService : public IShellService {
public:
  void OpenUrl(const QUrl& AUrl) override;
  void ShowMessage(QWidget* AOwner, const QString& ACaption, const QString& AText,
                   QMessageBox::Icon AIcon) override;
};

// The engine's questions as message boxes on the screen.
class TMessageBoxPrompt : public IPrompt {
public:
  void ShowMessage(const std::string& AText) override;
  bool AskWarningYesNo(const std::string& AText) override;
};

// The application object. It is the last net for exceptions of event
// handlers that do not run through RunUserAction: they are shown like the
// others and the loop goes on with the next event.
class TTarnwickApplication : public QApplication {
public:
  TTarnwickApplication(int& argc, char** argv);
  bool notify(QObject* AReceiver, QEvent* AEvent) override;
};

// The objects that live for the whole process: created one by one in
// start-up order and released in the reverse order, also when a later one
// fails to come up.
class TProcessObjects {
public:
  TProcessObjects() = default;
  ~TProcessObjects();
  TProcessObjects(const TProcessObjects&) = delete;
  TProcessObjects& operator=(const TProcessObjects&) = delete;

  // Runs ACreate now; ARelease runs when the objects are released.
  void Add(const std::function<void()>& ACreate, std::function<void()> ARelease);
  // Keeps AObject until the objects are released, in the same order.
  template <typename TObject>
  TObject& Keep(std::unique_ptr<TObject> AObject) {
    TObject& Kept = *AObject;
    std::shared_ptr<TObject> Owner(std::move(AObject));
    FReleases.push_back([Owner]() mutable { Owner.reset(); });
    return Kept;
  }

private:
  std::vector<std::function<void()>> FReleases;
};

// The process-wide objects that the window works with.
struct TProcessWideObjects {
  TProgressExFormView* ProgressView = nullptr;
  TNTFSRecoveryContext* Context = nullptr;
  TDriveList* Drives = nullptr; // what the source drive page lists
};

// Creates the process-wide objects of Tarnwick in their start-up order.
TProcessWideObjects CreateProcessObjects(TProcessObjects& AObjects);

// Creates the wizard's pages in their order, each given what it works on,
// and adds them through AApp.
void AssemblePages(IWizardApplication& AApp, TNTFSRecoveryContext& AContext, TDriveList& ADrives);

// The application window: the wizard with the program's title, menu, help,
// web links and exception message box.
class TfMain : public TWizardMain {
public:
  using TPageAssembler = std::function<void(IWizardApplication& AApp)>;

  TfMain(IShellService& AShell, const TPageAssembler& AAssemble);
  ~TfMain() override;

  // Shows an exception that reached the event loop: "Error" box, then on.
  void ApplicationEvents1Exception(const std::exception& E);

protected:
  void FormClose() override;

  void miAddVolumeImageClick();
  void miExitClick();
  void miQuilloryHelpClick();
  void miQuilloryOntheWebClick();
  void miAboutClick();

  QMenuBar* MainMenu1 = nullptr;
  QMenu* miFile = nullptr;
  QAction* miAddVolumeImage = nullptr;
  QAction* miExit = nullptr;
  QMenu* miHelp = nullptr;
  QAction* miQuilloryHelp = nullptr;
  QAction* miQuilloryOntheWeb = nullptr;
  QAction* N1 = nullptr;
  QAction* miAbout = nullptr;

private:
  void BuildMenu();

  IShellService& FShell;
};

// The application id: the name of the desktop entry, the icon and the
// AppStream data, which the desktop uses to match windows to their entry.
inline constexpr char ApplicationId[] = TARNWICK_APP_ID;

// The install prefix's share folder (help pages, icons), found from where
// the running program lies, so an installed copy never reads the build tree.
QString DataFolder();

// Answers --help and --version on AOut before any window system is needed
// and gives the exit code; nothing when the wizard is to start. Options the
// toolkit takes itself (-platform, -style, ...) pass through.
std::optional<int> AnswerCommandLine(int argc, char** argv, std::ostream& AOut);

// The addresses the window opens.
extern const QUrl ProductWebPage;
extern const QUrl FeedbackWebPage;
// The help's first page, beside the program's data; empty when it is missing.
QUrl HelpFileUrl();

// The main routine: process objects, application, window, message loop,
// then everything released in reverse with the leak check last.
int TarnwickMain(int argc, char** argv);
