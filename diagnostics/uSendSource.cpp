#include "diagnostics/uSendSource.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "progress/uProgress.h"

namespace {

// Tells the process-wide fan-out how the compression of each file goes and
// lets it stop the packing.
class TFanOutZipProgress : public IZipWriterProgress {
public:
  void FileProgress(const QString& AFileName, int APercent) override {
    const IMultiProgressPtr Progress = GetMultiProgress();
    Progress->ShowMessage("Compressing file " + AFileName.toStdString());
    Progress->DoProgress(APercent);
  }
  bool IsCanceled() override { return GetMultiProgress()->IsCanceled(); }
};

TFanOutZipProgress& FanOutZipProgress() {
  static TFanOutZipProgress Instance;
  return Instance;
}

// The step count of packing: the files' percentages.
constexpr std::int64_t kPackingStepCount = 100;

}  // namespace

TSendSourceItem::TSendSourceItem(const QString& AFileName)
    : FName(AFileName), FArchive(FanOutZipProgress()) {}

void TSendSourceItem::AddFile(const QString& AFileName) {
  const QFileInfo File(AFileName);
  AddMatching("Add files...", File.path(), File.fileName());
}

void TSendSourceItem::AddFiles(const QString& ADir, const QString& AFileMask) {
  AddMatching("Adding files...", ADir, AFileMask);
}

void TSendSourceItem::AddMatching(const std::string& AStepText, const QString& ADir,
                                  const QString& AMask) {
  TProgressStep Step(*GetMultiProgress(), AStepText, kPackingStepCount);
  BeginUpdate();
  try {
    FArchive.AddFiles(ADir, AMask);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TSendSourceItem::BeginUpdate() {
  if (FUpdateCounter == 0)
    FArchive.Create(FName);
  ++FUpdateCounter;
}

void TSendSourceItem::EndUpdate() {
  if (FUpdateCounter <= 0) {
    FUpdateCounter = 0;
    return;
  }
  if (--FUpdateCounter == 0)
    FArchive.Close();
}

TSendSourcePacket::TSendSourcePacket() : FTempPath(QDir::tempPath() + QLatin1Char('/')) {}

TSendSourceItem& TSendSourcePacket::AddItem(const QString& AName) {
  if (AName.isEmpty() || AName == u"." || AName == u".." || AName.contains(u'/'))
    throw std::invalid_argument("TSendSourcePacket.AddItem: \"" + AName.toStdString() +
                                "\" is not a plain file name");
  FItems.push_back(std::make_unique<TSendSourceItem>(FTempPath + AName + QStringLiteral(".zip")));
  return *FItems.back();
}

std::int32_t TSendSourcePacket::GetItemCount() const { return static_cast<std::int32_t>(FItems.size()); }

TSendSourceItem& TSendSourcePacket::GetItem(std::int32_t i) const {
  if (i < 0 || i >= GetItemCount())
    throw std::out_of_range("TSendSourcePacket.GetItem: no item " + std::to_string(i));
  return *FItems[static_cast<std::size_t>(i)];
}

void TSendSourcePacket::Clear() { FItems.clear(); }

std::unique_ptr<TSendSourcePacket> SourceSender::CreatePacket() {
  return std::make_unique<TSendSourcePacket>();
}

namespace {

const QString kMailProgram = QStringLiteral("xdg-email");

// xdg-email returns once the composer shows the message. Some mail programs
// keep it until they are closed; by then the message is in the user's hands
// too, so after this long the hand-over counts as done.
constexpr int kHandOverWaitMs = 15000;

QStringList MailArguments(TSendSourcePacket& APacket, const QString& AEmail, const QString& ASubject,
                          const QString& ABody) {
  QStringList Arguments{QStringLiteral("--subject"), ASubject, QStringLiteral("--body"), ABody};
  for (std::int32_t i = 0; i < APacket.GetItemCount(); ++i) {
    const QString Archive = APacket.GetItem(i).GetFileName();
    // An archive that matched no file, or whose batch never ended, was not
    // written; a message without it must not pass for a report.
    if (!QFileInfo::exists(Archive))
      throw EMailError("The archive " + Archive.toStdString() + " to attach was not written");
    Arguments << QStringLiteral("--attach") << Archive;
  }
  Arguments << AEmail;
  return Arguments;
}

// What xdg-email's documented exit codes mean.
std::string MailProgramRefusal(int AExitCode) {
  switch (AExitCode) {
    case 1: return "the mail program did not understand the message";
    case 2: return "an attachment does not exist";
    case 3: return "no mail program is set up";
    case 4: return "the mail program failed to open the message";
    case 5: return "an attachment cannot be read";
    default: return "the mail program ended with code " + std::to_string(AExitCode);
  }
}

QString MailProgram() {
  const QString Program = QStandardPaths::findExecutable(kMailProgram);
  if (Program.isEmpty())
    throw EMailError("No mail program can be opened: xdg-email was not found");
  return Program;
}

void HandToMailProgram(const QString& AProgram, const QStringList& AArguments) {
  auto Process = std::make_unique<QProcess>();
  Process->start(AProgram, AArguments);
  if (!Process->waitForStarted())
    throw EMailError("The mail program could not be started: " + Process->errorString().toStdString());
  if (!Process->waitForFinished(kHandOverWaitMs)) {
    QObject::connect(Process.get(), &QProcess::finished, Process.get(), &QObject::deleteLater);
    Process.release();
    return;
  }
  if (Process->exitStatus() != QProcess::NormalExit)
    throw EMailError("The mail program stopped before it took the message");
  if (Process->exitCode() != 0)
    throw EMailError("The message was not handed over: " + MailProgramRefusal(Process->exitCode()));
}

}  // namespace

bool SourceSender::SendPacket(TSendSourcePacket& packet, const QString& email, const QString& wSubject,
                              const QString& wBody) {
  if (packet.GetItemCount() == 0)
    return false;
  const IMultiProgressPtr Progress = GetMultiProgress();
  TProgressStep Step(*Progress, "Preparing for sending source files...", 0);
  try {
    // The steps keep the names of a mail session; finding the user's mail
    // program stands for logging on to it.
    const QStringList Arguments = MailArguments(packet, email, wSubject, wBody);
    Progress->ShowMessage("connecting to mail server...");
    const QString Program = MailProgram();
    Progress->ShowMessage("sending...");
    HandToMailProgram(Program, Arguments);
    Progress->ShowMessage("disconnecting from mail server...");
    Progress->ShowMessage("Sending completed.");
  } catch (const std::exception& E) {
    Progress->ShowError(E.what());
    throw;
  }
  return true;
}
