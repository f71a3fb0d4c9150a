#include "app/uMain.h"

#include <iostream>
#include <string_view>

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStyle>

#include "app/uDeviceChangeRelay.h"
#include "diagnostics/uAbout.h"
#include "diagnostics/uProductAddresses.h"
#include "diagnostics/uTarnwickErrorMessage.h"
#include "engine/uAppContext.h"
#include "foundation/uMemoryEx.h"
#include "foundation/uSysPath.h"
#include "platform/uDriveList.h"
#include "platform/uDrivePart.h"
#include "wizard/uRestorePage.h"
#include "wizard/uUDisksSource.h"
#include "wizard/uSelectSourceDrivePage.h"
#include "wizard/uSelectTargetDirPage.h"
#include "wizard/uViewSourcePage.h"
#include "wizard/uStartPage.h"

const QUrl ProductWebPage(QString::fromLatin1(ProductAddresses::Site));
const QUrl FeedbackWebPage(QString::fromLatin1(ProductAddresses::FeedbackPage));

namespace {

constexpr QSize MainWindowSize(655, 551);
constexpr QSize MainWindowMinimumSize(655, 550);
constexpr int MainLogoPanelWidth = 153;
constexpr int WindowIconSize = 64;

const std::u16string PlaceholderDelimiter = u"*";

// Empty until the per-user data folder is known, so that no log lands in
// the file system's root.
QString ErrorLogPath() {
  if (AppDataFolder().empty())
    return QString();
  const std::u16string Path = AppDataFolder() + u"/" + QString::fromLatin1(ErrorLogFileName).toStdU16String();
  return QString::fromStdU16String(SysPaths().AnnouncePath(Path, PlaceholderDelimiter));
}

// The box behind ShowErrorMessage: no owner, so it is centred on the screen.
std::int32_t ShowDiagnosticBox(TErrorDisplayStatus AStatus, const QString& AText) {
  switch (AStatus) {
    case edsConfirmation:
      return QMessageBox::question(nullptr, QStringLiteral("Confirmation"), AText,
                                   QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
                     QMessageBox::Yes
                 ? mrYes
                 : mrNo;
    case edsError:
      QMessageBox::critical(nullptr, QStringLiteral("Error"), AText);
      return mrOk;
    case edsWarning:
      QMessageBox::warning(nullptr, QStringLiteral("Warning"), AText);
      return mrOk;
    case edsInformation:
      QMessageBox::information(nullptr, QStringLiteral("Information"), AText);
      return mrOk;
    case edsSilent:
      break;
  }
  return mrNone;
}

}  // namespace

// ---------------------------------------------------------------------------

void TDesktopShellService::OpenUrl(const QUrl& AUrl) { QDesktopServices::openUrl(AUrl); }

void TDesktopShellService::ShowMessage(QWidget* AOwner, const QString& ACaption,
                                       const QString& AText, QMessageBox::Icon AIcon) {
  QMessageBox Box(AIcon, ACaption, AText, QMessageBox::Ok, AOwner);
  Box.exec();
}

// ---------------------------------------------------------------------------

void TMessageBoxPrompt::ShowMessage(const std::string& AText) {
  QMessageBox::information(QApplication::activeWindow(), QStringLiteral("Tarnwick"), QString::fromStdString(AText));
}

bool TMessageBoxPrompt::AskWarningYesNo(const std::string& AText) {
  return QMessageBox::warning(QApplication::activeWindow(), QStringLiteral("Warning"), QString::fromStdString(AText),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

// ---------------------------------------------------------------------------

TTarnwickApplication::TTarnwickApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TTarnwickApplication::notify(QObject* AReceiver, QEvent* AEvent) {
  try {
    return QApplication::notify(AReceiver, AEvent);
  } catch (const std::exception& E) {
    HandleUserActionException(E);
    return false;
  }
}

// ---------------------------------------------------------------------------

TProcessObjects::~TProcessObjects() {
  for (auto Release = FReleases.rbegin(); Release != FReleases.rend(); ++Release)
    (*Release)();
}

void TProcessObjects::Add(const std::function<void()>& ACreate, std::function<void()> ARelease) {
  ACreate();
  FReleases.push_back(std::move(ARelease));
}

TProcessWideObjects CreateProcessObjects(TProcessObjects& AObjects) {
  TProcessWideObjects Created;
  Created.ProgressView =
      &AObjects.Keep(std::make_unique<TProgressExFormRegistration>()).View();
  Created.Drives = &AObjects.Keep(std::make_unique<TDriveList>());
  Created.Drives->Refresh();
  AObjects.Add(
      [] {
        SysPaths();
        SetErrorLogPath(ErrorLogPath);
      },
      [] { SetErrorLogPath(nullptr); });
  Created.Context = &AObjects.Keep(std::make_unique<TNTFSRecoveryContext>(
      std::make_shared<TMessageBoxPrompt>(), nullptr,
      [Drives = Created.Drives](const std::string& APath) { return SystemDrivePart(Drives->Table(), APath); }));
  AObjects.Add([] { SetErrorMessageObject(std::make_unique<TTarnwickErrorMessage>()); },
               [] { SetErrorMessageObject(nullptr); });
  return Created;
}

// In the order the user walks through them: start page, source drive page,
// file selection page, target folder page, restore page.
void AssemblePages(IWizardApplication& AApp, TNTFSRecoveryContext& AContext, TDriveList& ADrives) {
  AApp.AddPage(std::make_unique<TStartPage>());
  // Started from a desktop's menu, the wizard runs as the user: udisks2
  // opens the devices the user may not.
  AApp.AddPage(std::make_unique<TSelectSourceDrivePage>(AContext, ADrives,
                                                        TSourceResolver(TFileSource::Open, OpenThroughUDisks)));
  AApp.AddPage(std::make_unique<TViewSourcePage>(AContext));
  AApp.AddPage(std::make_unique<TSelectTargetDirPage>(AContext));
  AApp.AddPage(std::make_unique<TRestorePage>(AContext));
}

// ---------------------------------------------------------------------------

TfMain::TfMain(IShellService& AShell, const TPageAssembler& AAssemble) : FShell(AShell) {
  SetUserActionExceptionHandler([this](const std::exception& E) { ApplicationEvents1Exception(E); });

  pnlLogo->setFixedWidth(MainLogoPanelWidth);
  setMinimumSize(MainWindowMinimumSize);
  resize(MainWindowSize);
  if (const QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->availableGeometry().center() - rect().center());
  setWindowIcon(QIcon::fromTheme(QString::fromLatin1(ApplicationId),
                                 QIcon(DrawTarnwickLogo(WindowIconSize))));
  BuildMenu();
  setWindowTitle(QStringLiteral("Tarnwick v.") + GetSelfApplicationVersion());

  AAssemble(*this);
  Run();
}

TfMain::~TfMain() { SetUserActionExceptionHandler(nullptr); }

void TfMain::BuildMenu() {
  MainMenu1 = menuBar();
  miFile = MainMenu1->addMenu(QStringLiteral("File"));
  miAddVolumeImage = miFile->addAction(QStringLiteral("Add volume image..."), this,
                                       [this] { RunUserAction([this] { miAddVolumeImageClick(); }); });
  miAddVolumeImage->setStatusTip(QStringLiteral("List a volume image file as a drive to recover from"));
  miFile->addSeparator();
  miExit = miFile->addAction(QStringLiteral("Exit"), this, [this] { RunUserAction([this] { miExitClick(); }); });
  miExit->setStatusTip(QStringLiteral("Close application"));

  miHelp = MainMenu1->addMenu(QStringLiteral("Help"));
  miQuilloryHelp = miHelp->addAction(style()->standardIcon(QStyle::SP_DialogHelpButton),
                                     QStringLiteral("Tarnwick Help"), this,
                                     [this] { RunUserAction([this] { miQuilloryHelpClick(); }); });
  miQuilloryHelp->setStatusTip(QStringLiteral("Show help"));
  miQuilloryOntheWeb = miHelp->addAction(style()->standardIcon(QStyle::SP_DriveNetIcon),
                                         QStringLiteral("Tarnwick on the Web"), this,
                                         [this] { RunUserAction([this] { miQuilloryOntheWebClick(); }); });
  miQuilloryOntheWeb->setStatusTip(QStringLiteral("Go to web page"));
  N1 = miHelp->addSeparator();
  miAbout = miHelp->addAction(QStringLiteral("About"), this,
                              [this] { RunUserAction([this] { miAboutClick(); }); });
  miAbout->setStatusTip(QStringLiteral("Show information about product"));

  for (QMenu* Menu : {miFile, miHelp}) {
    Menu->setToolTipsVisible(true);
    for (QAction* Item : Menu->actions())
      Item->setToolTip(Item->statusTip());
  }

  // Window managers handle Alt+F4 themselves; this covers desktops that pass it on.
  auto* AltF4 = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
  connect(AltF4, &QShortcut::activated, this, &QWidget::close);
}

void TfMain::miAddVolumeImageClick() { AddVolumeImageTo(*this); }

void TfMain::miExitClick() { close(); }

void TfMain::miQuilloryHelpClick() {
  const QUrl Help = HelpFileUrl();
  if (!Help.isEmpty())
    FShell.OpenUrl(Help);
}

void TfMain::miQuilloryOntheWebClick() { FShell.OpenUrl(ProductWebPage); }

void TfMain::miAboutClick() {
  TAboutDialog Dialog(this);
  Dialog.exec();
}

void TfMain::FormClose() {
  TWizardMain::FormClose();
  FShell.OpenUrl(FeedbackWebPage);
}

void TfMain::ApplicationEvents1Exception(const std::exception& E) {
  FShell.ShowMessage(this, QStringLiteral("Error"), QString::fromUtf8(E.what()),
                     QMessageBox::NoIcon);
}

QString DataFolder() {
  return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(TARNWICK_DATA_DIR)));
}

QUrl HelpFileUrl() {
  const QString Help = DataFolder() + QStringLiteral("/tarnwick/help/Tarnwick.html");
  return QFileInfo::exists(Help) ? QUrl::fromLocalFile(Help) : QUrl();
}

std::optional<int> AnswerCommandLine(int argc, char** argv, std::ostream& AOut) {
  for (int Index = 1; Index < argc; ++Index) {
    const std::string_view Argument = argv[Index];
    if (Argument == "--version" || Argument == "-v") {
      AOut << "tarnwick " << GetSelfApplicationVersion().toStdString() << '\n';
      return 0;
    }
    if (Argument == "--help" || Argument == "-h") {
      AOut << "Finds deleted files and folders on an NTFS volume and restores them.\n"
              "Usage: tarnwick [OPTIONS]\n"
              "\n"
              "Options:\n"
              "  -h, --help     Print this help message and exit\n"
              "  -v, --version  Print the version and exit\n"
              "The options every Qt program takes (such as -platform or -style) are\n"
              "accepted as well.\n"
              "\n"
              "Environment:\n"
              "  TARNWICK_IMAGES  Volume image files to list as drives, separated by \":\"\n";
      return 0;
    }
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------

int TarnwickMain(int argc, char** argv) {
  if (const std::optional<int> Answered = AnswerCommandLine(argc, argv, std::cout))
    return *Answered;
  // The application object comes first: every Qt object needs it, and the
  // leak warning after the process objects are gone still shows a box.
  TTarnwickApplication App(argc, argv);
  QGuiApplication::setDesktopFileName(QString::fromLatin1(ApplicationId));
  // An install prefix outside the desktop's data folders still has its icon.
  QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << DataFolder() + QStringLiteral("/icons"));
  TDesktopShellService Shell;
  MemoryEx::SetLeakReporter([&Shell](std::int64_t ABytes) {
    Shell.ShowMessage(nullptr, QStringLiteral("Warning"),
                      QStringLiteral("Memory leak: ") + QString::number(ABytes),
                      QMessageBox::Warning);
  });
  SetErrorMessageBox(ShowDiagnosticBox);

  int ExitCode = 0;
  {
    TProcessObjects Objects;
    const TProcessWideObjects ProcessWide = CreateProcessObjects(Objects);
    SetAppDataFolder(SysPaths().AnnouncePath(AppDataPlaceholder, PlaceholderDelimiter));
    try {
      // Destroyed before the process objects: the pages save their state
      // while the recovery context still exists.
      TfMain Window(Shell, [&ProcessWide](IWizardApplication& AApp) {
        AssemblePages(AApp, *ProcessWide.Context, *ProcessWide.Drives);
      });
      ProcessWide.ProgressView->SetAnchor(&Window);
      const TDeviceChangeRelay DeviceChanges(Window);
      Window.show();
      ExitCode = App.exec();
    } catch (const std::exception& E) {
      Shell.ShowMessage(nullptr, QStringLiteral("Error"), QString::fromUtf8(E.what()),
                        QMessageBox::NoIcon);
      ExitCode = 1;
    }
  }
  MemoryEx::CheckMemoryLeak();
  SetErrorMessageBox(nullptr);
  MemoryEx::SetLeakReporter(nullptr);
  return ExitCode;
}
