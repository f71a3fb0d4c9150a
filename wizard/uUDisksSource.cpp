#include "wizard/uUDisksSource.h"

#include "ntfs/uFSError.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString kManagerInterface = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString kBlockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
// Long enough for the user to type a password into polkit's dialog.
constexpr int kAnswerTimeout = 5 * 60 * 1000;

[[noreturn]] void Refused(const std::string& ADevice, const QString& AWhy) {
  throw NoDriveException(UDisksRefusal(ADevice, AWhy.toStdString()));
}

// The answer to one call; a D-Bus error ends the opening.
QDBusMessage Call(QDBusConnection& ABus, const QString& APath, const QString& AInterface, const QString& AMethod,
                  const QVariantList& AArguments, const std::string& ADevice) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, APath, AInterface, AMethod);
  call.setArguments(AArguments);
  // The window stays alive while polkit asks.
  const QDBusMessage answer = ABus.call(call, QDBus::BlockWithGui, kAnswerTimeout);
  if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
    Refused(ADevice, answer.errorMessage().isEmpty() ? answer.errorName() : answer.errorMessage());
  return answer;
}

} // namespace

IVolumeSourcePtr OpenThroughUDisks(const std::string& ADevice) {
  // ResolveDevice answers with an array of object paths.
  static const QMetaType registered = qDBusRegisterMetaType<QList<QDBusObjectPath>>();
  Q_UNUSED(registered);
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected())
    Refused(ADevice, QStringLiteral("the system bus is not reachable"));
  const QVariantMap noOptions;
  const QDBusMessage resolved =
      Call(bus, kManagerPath, kManagerInterface, QStringLiteral("ResolveDevice"),
           {QVariantMap{{QStringLiteral("path"), QString::fromStdString(ADevice)}}, noOptions}, ADevice);
  const auto blocks = qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().constFirst());
  if (blocks.isEmpty())
    Refused(ADevice, QStringLiteral("udisks2 does not know the device"));
  const QDBusMessage opened = Call(bus, blocks.constFirst().path(), kBlockInterface,
                                   QStringLiteral("OpenForBackup"), {noOptions}, ADevice);
  const auto descriptor = qdbus_cast<QDBusUnixFileDescriptor>(opened.arguments().constFirst());
  // The descriptor object closes its own copy.
  const int handle = descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
  if (handle < 0)
    Refused(ADevice, QStringLiteral("no descriptor came back"));
  return TFileSource::Adopt(handle, ADevice);
}

TDriveSourceOpener WithUDisksFallback(TDriveSourceOpener AOpener) {
  return WithDeniedDeviceFallback(std::move(AOpener), OpenThroughUDisks);
}
