// A desktop user's way to a device: udisks2's OpenDevice, asked through one
// sd-bus client by the wizard and by the command line, here answered by a
// stand-in UDisks2 service on a private bus started by the test, which hands
// back a read-only descriptor of a fixture volume. No real udisksd or polkit
// takes part.

#include "wizard/uUDisksSource.h"

#include "engine/uAppContext.h"
#include "ntfs/uFSError.h"
#include "platform/uSourceResolver.h"
#include "foundation/uUnicode.h"
#include "platform/uUDisksBus.h"
#include "tests/support/Command.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/uOtherUser.h"
#include "tests/support/uTestFiles.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

using ::testing::HasSubstr;
using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::RunCommandChecked;
using testsupport::SplitLines;

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kBlockPath = QStringLiteral("/org/freedesktop/UDisks2/block_devices/sdz1");
constexpr char kDevice[] = "/dev/sdz1";

// A private bus: dbus-daemon with the session configuration, stopped with
// the object.
class TPrivateBus {
public:
  TPrivateBus() {
    // The session bus's setup, but open to every user, as the system bus is:
    // the command-line test's client runs as nobody.
    std::ofstream(FConfig.Path() / "bus.conf")
        << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
           "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    const std::string command = "dbus-daemon --config-file=" + (FConfig.Path() / "bus.conf").string() +
                                " --fork --print-address=1 --print-pid=1 2>/dev/null";
    FILE* daemon = popen(command.c_str(), "r");
    if (daemon == nullptr)
      return;
    char line[512] = {};
    if (std::fgets(line, sizeof line, daemon) != nullptr)
      FAddress = QString::fromUtf8(line).trimmed();
    if (std::fgets(line, sizeof line, daemon) != nullptr)
      FPid = std::atoi(line);
    pclose(daemon);
  }
  ~TPrivateBus() {
    if (FPid > 0)
      kill(FPid, SIGTERM);
  }
  TPrivateBus(const TPrivateBus&) = delete;
  TPrivateBus& operator=(const TPrivateBus&) = delete;

  const QString& Address() const { return FAddress; }

private:
  testfiles::TTempFolder FConfig;
  QString FAddress;
  int FPid = 0;
};

// The two calls Tarnwick makes of udisks2, answered for one device with a
// descriptor of AImage, or refused.
class TStandInUDisks final : public QDBusVirtualObject {
public:
  std::string Image;
  std::string Device = kDevice;
  bool Refuse = false;
  QStringList Calls;
  QStringList Modes; // what each OpenDevice asked for

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& AMessage, const QDBusConnection& AConnection) override {
    Calls << AMessage.path() + " " + AMessage.member();
    if (AMessage.member() == QStringLiteral("ResolveDevice")) {
      const auto device = qdbus_cast<QVariantMap>(AMessage.arguments().constFirst());
      const QString path = device.value(QStringLiteral("path")).toString();
      QList<QDBusObjectPath> found;
      if (path == QString::fromStdString(Device))
        found << QDBusObjectPath(kBlockPath);
      AConnection.send(AMessage.createReply(QVariant::fromValue(found)));
      return true;
    }
    if (AMessage.member() == QStringLiteral("OpenDevice") && AMessage.path() == kBlockPath) {
      Modes << AMessage.arguments().constFirst().toString();
      if (Refuse) {
        AConnection.send(AMessage.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized"),
                                                   QStringLiteral("Not authorized to perform operation")));
        return true;
      }
      const int handle = open(Image.c_str(), O_RDONLY | O_CLOEXEC);
      AConnection.send(AMessage.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(handle))));
      close(handle);
      return true;
    }
    return false;
  }
};

// What opening a block device the user may not open does.
IVolumeSourcePtr DeniedDevice(const std::string&) {
  throw AccessDeniedException("Permission denied reading \"/dev/sdz1\".", kDevice, true);
}

// The wizard's way to its source: the device opened once, through udisks2
// where the user may not open it.
const TSourceResolver kWizardResolver(DeniedDevice, OpenThroughUDisks);

class UDisksSource : public ::testing::Test {
protected:
  void SetUp() override {
    if (Bus.Address().isEmpty())
      GTEST_SKIP() << "dbus-daemon could not start a private bus";
    // Every D-Bus client takes the system bus from here; Qt reads it once.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", Bus.Address().toUtf8());
    Service = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(Bus.Address(), QStringLiteral("stand-in")));
    StandIn.Image = testsupport::FixtureImage("demo");
  }
  void TearDown() override {
    if (Service)
      QDBusConnection::disconnectFromBus(QStringLiteral("stand-in"));
  }

  void ServeUDisks() {
    ASSERT_TRUE(Service->registerVirtualObject(QStringLiteral("/org/freedesktop/UDisks2"), &StandIn,
                                               QDBusConnection::SubPath));
    ASSERT_TRUE(Service->registerService(kService));
  }

  // Opens the drive as the wizard's drive page does.
  static std::string OpenError() {
    try {
      kWizardResolver.Open({kDevice});
    } catch (const NoDriveException& error) {
      return error.what();
    }
    return {};
  }

  static TPrivateBus Bus;
  std::unique_ptr<QDBusConnection> Service;
  TStandInUDisks StandIn;
};

TPrivateBus UDisksSource::Bus;

// The scan, three previews and the restore read what udisks2 handed over
// once: polkit asks for the password once, not at every step.
TEST_F(UDisksSource, ADeviceTheUserMayNotOpenIsOpenedOnceThroughUDisksForScanPreviewsAndRestore) {
  ServeUDisks();
  TNTFSRecoveryContext context(std::make_shared<TScriptedPrompt>());
  context.SetSourceDrive(u"D:\\");
  context.SetMask(u"*");
  context.SetSource(kWizardResolver.Open({kDevice}));
  context.ProcessScan();
  EXPECT_GT(context.Items()->Count(), 10);
  std::vector<PTreeItemInfo> files;
  context.CheckAll(context.TreeItems(), true);
  std::int64_t size = 0;
  for (auto [bookmark, node] : ListItems<PTreeItemInfo>(*context.GetCheckedList(size)))
    if (!node->Data->IsDirectory && node->Data->DataSize > 0 && files.size() < 3)
      files.push_back(node);
  ASSERT_EQ(files.size(), 3u);
  for (PTreeItemInfo file : files)
    EXPECT_FALSE(context.ReadFileStart(file, 4096).empty());
  testfiles::TTempFolder target;
  context.SetTargetDir(FromNativePath((target.Path() / "restored").string()));
  context.ProcessRecover();
  EXPECT_FALSE(std::filesystem::is_empty(target.Path() / "restored"));

  EXPECT_EQ(StandIn.Calls, QStringList({QStringLiteral("/org/freedesktop/UDisks2/Manager ResolveDevice"),
                                        kBlockPath + QStringLiteral(" OpenDevice")}));
  EXPECT_EQ(StandIn.Modes, QStringList({QStringLiteral("r")})) << "read-only, and a mounted device opens too";
  EXPECT_EQ(context.Source()->Source()->Size(), static_cast<std::int64_t>(std::filesystem::file_size(StandIn.Image)));
}

TEST_F(UDisksSource, ARefusalOrNoUDisksNamesBothWaysOut) {
  const std::string waysOut = "run Tarnwick as root, or join the \"disk\" group and log in again.";
  EXPECT_THAT(OpenError(), HasSubstr(waysOut)) << "without udisks2";
  ServeUDisks();
  StandIn.Refuse = true;
  const std::string refused = OpenError();
  EXPECT_THAT(refused, HasSubstr("Authentication to read \"/dev/sdz1\" was refused or cancelled (Not authorized to "
                                 "perform operation)"));
  EXPECT_THAT(refused, HasSubstr(waysOut));
}

TEST_F(UDisksSource, OnlyBlockDevicesAreAskedFor) {
  ServeUDisks();
  const TSourceResolver resolver(
      [](const std::string& APath) -> IVolumeSourcePtr {
        throw AccessDeniedException("Permission denied reading \"" + APath + "\".", APath, false);
      },
      OpenThroughUDisks);
  EXPECT_THROW(resolver.Open({"/home/u/x.img"}), AccessDeniedException);
  EXPECT_TRUE(StandIn.Calls.isEmpty());
}

// The command-line front end asks the same service without Qt, through
// sd-bus. The stand-in answers on this thread's event loop, so the call
// runs on another.
template <class TCall>
auto WhileServing(TCall ACall) {
  auto call = std::async(std::launch::async, std::move(ACall));
  while (call.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
    QCoreApplication::processEvents();
  return call.get();
}

std::string OpenedThroughSDBus(IVolumeSourcePtr* ASource) {
  try {
    *ASource = WhileServing([] { return OpenThroughUDisksBus(kDevice); });
  } catch (const NoDriveException& error) {
    return error.what();
  }
  return {};
}

TEST_F(UDisksSource, TheCommandLineClientReadsTheSameDescriptor) {
  ServeUDisks();
  IVolumeSourcePtr source;
  ASSERT_EQ(OpenedThroughSDBus(&source), "");
  EXPECT_EQ(source->Size(), static_cast<std::int64_t>(std::filesystem::file_size(StandIn.Image)));
  char oemName[8] = {};
  ASSERT_EQ(source->ReadAt(3, oemName, sizeof oemName), 8);
  EXPECT_EQ(std::string(oemName, 8), "NTFS    ");
  EXPECT_EQ(StandIn.Calls, QStringList({QStringLiteral("/org/freedesktop/UDisks2/Manager ResolveDevice"),
                                        kBlockPath + QStringLiteral(" OpenDevice")}));
}

TEST_F(UDisksSource, TheCommandLineClientNamesBothWaysOut) {
  const std::string waysOut = "run Tarnwick as root, or join the \"disk\" group and log in again.";
  IVolumeSourcePtr source;
  EXPECT_THAT(OpenedThroughSDBus(&source), HasSubstr(waysOut)) << "without udisks2";
  ServeUDisks();
  StandIn.Refuse = true;
  EXPECT_EQ(OpenedThroughSDBus(&source), "Authentication to read \"/dev/sdz1\" was refused or cancelled (Not "
                                         "authorized to perform operation): give the administrator's password when "
                                         "asked, " +
                                             waysOut);
  EXPECT_EQ(source, nullptr);
}

// tarnwick-cli run by a user who may not read the device, in a graphical
// session: the scan reads what the stand-in hands over. Needs root to attach
// a loop device and run the child as nobody.
TEST_F(UDisksSource, TheCommandLineInADesktopSessionScansTheDeviceUDisksOpens) {
  if (geteuid() != 0)
    GTEST_SKIP() << "attaching a loop device and running a child as nobody need root";
  testfiles::TSharedTempFolder folder;
  if (const std::string why = folder.WhyProgramsCannotRun(); !why.empty())
    GTEST_SKIP() << why;
  const std::string cli = folder.AddProgram(TARNWICK_CLI);
  std::istringstream attached(
      testfiles::CommandOutput("losetup -r -f --show '" + StandIn.Image + "' 2>/dev/null"));
  std::getline(attached, StandIn.Device);
  if (StandIn.Device.empty())
    GTEST_SKIP() << "no loop device could be attached";
  ServeUDisks();
  const auto scanInSession = [&](const std::string& ASessionType) {
    return testfiles::AsNobody({"env", "XDG_SESSION_TYPE=" + ASessionType,
                                "DBUS_SYSTEM_BUS_ADDRESS=" + Bus.Address().toStdString(), cli, "scan",
                                StandIn.Device, "--format", "tsv"});
  };
  const std::vector<std::string> desktopScan = scanInSession("x11");
  const CommandResult scan = WhileServing([&desktopScan] { return RunCommand(desktopScan); });
  const int scanCalls = static_cast<int>(StandIn.Calls.size());
  // A restore scans and restores from the one descriptor it asked for.
  const std::filesystem::path target = folder.Path() / "restored";
  std::filesystem::create_directory(target);
  std::filesystem::permissions(target, std::filesystem::perms::all);
  const std::vector<std::string> desktopRestore = testfiles::AsNobody(
      {"env", "XDG_SESSION_TYPE=x11", "DBUS_SYSTEM_BUS_ADDRESS=" + Bus.Address().toStdString(), cli, "restore",
       StandIn.Device, "--select", "all", "--target", target.string()});
  const CommandResult restore = WhileServing([&desktopRestore] { return RunCommand(desktopRestore); });
  // Outside a graphical session the same user is only told why not.
  const CommandResult denied = RunCommand(scanInSession("tty"));
  testfiles::CommandOutput("losetup -d '" + StandIn.Device + "'");

  EXPECT_EQ(scan.ExitCode, 0) << scan.Err;
  EXPECT_LE(restore.ExitCode, 1) << restore.Err;
  EXPECT_FALSE(std::filesystem::is_empty(target));
  EXPECT_EQ(scanCalls, 2) << "ResolveDevice and OpenDevice, once for the whole scan";
  EXPECT_EQ(StandIn.Calls.filter(QStringLiteral(" OpenDevice")).size(), 2) << "one for each command";
  // As many rows as a scan of the image itself.
  const std::string image = RunCommandChecked({TARNWICK_CLI, "scan", StandIn.Image, "--format", "tsv"});
  EXPECT_GT(SplitLines(image).size(), 10u);
  EXPECT_EQ(SplitLines(scan.Out).size(), SplitLines(image).size());
  EXPECT_EQ(denied.ExitCode, 3);
  EXPECT_THAT(denied.Err, HasSubstr("Permission denied reading \"" + StandIn.Device + "\""));
}

TEST(DesktopSession, OnlyAGraphicalSessionCountsAsOne) {
  const char* before = std::getenv("XDG_SESSION_TYPE");
  const std::string saved = before != nullptr ? before : "";
  for (const auto& [type, desktop] : {std::pair<const char*, bool>{"x11", true}, {"wayland", true}, {"tty", false},
                                     {"", false}, {nullptr, false}}) {
    if (type != nullptr)
      setenv("XDG_SESSION_TYPE", type, 1);
    else
      unsetenv("XDG_SESSION_TYPE");
    EXPECT_EQ(InDesktopSession(), desktop) << (type != nullptr ? type : "unset");
  }
  if (before != nullptr)
    setenv("XDG_SESSION_TYPE", saved.c_str(), 1);
  else
    unsetenv("XDG_SESSION_TYPE");
}

} // namespace

int main(int argc, char** argv) { return RunTestsInside<QCoreApplication>(argc, argv); }
