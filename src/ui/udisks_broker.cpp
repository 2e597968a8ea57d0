#include "ui/udisks_broker.h"

#include <fcntl.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QString>
#include <QVariantMap>

namespace vellumark {
namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
// Polkit may be waiting for the user to type a password.
constexpr int kAnswerWaitMs = 5 * 60 * 1000;

AccessRefusal RefusalOf(const QDBusMessage& error) {
  const QString name = error.errorName();
  if (name.startsWith(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized"))) {
    return AccessRefusal::NotPermitted;  // also ...CanObtain and ...Dismissed
  }
  if (name == QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy")) return AccessRefusal::Busy;
  if (name == QStringLiteral("org.freedesktop.UDisks2.Error.NotFound")) return AccessRefusal::NotFound;
  // The service is not installed or not running, or failed in its own way:
  // either way nobody could be asked.
  return AccessRefusal::NoService;
}

QDBusMessage Call(const QDBusConnection& bus, const QString& object, const QString& interface, const QString& method,
                  const QList<QVariant>& arguments) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, object, interface, method);
  call.setArguments(arguments);
  call.setInteractiveAuthorizationAllowed(true);
  return bus.call(call, QDBus::Block, kAnswerWaitMs);
}

}  // namespace

DeviceBroker::Grant UDisksBroker::OpenReadOnly(const std::string& path) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    // The shared connection never tries again: a bus started after the
    // program is reached through a connection of its own, made afresh at
    // every open.
    static const QString kOwnName = QStringLiteral("vellumark-system-bus");
    QDBusConnection::disconnectFromBus(kOwnName);
    bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, kOwnName);
    if (!bus.isConnected()) return {-1, AccessRefusal::NoService};
  }
  qDBusRegisterMetaType<QList<QDBusObjectPath>>();

  // The block object that stands for the device node.
  const QVariantMap device{{QStringLiteral("path"), QString::fromStdString(path)}};
  const QDBusMessage resolved = Call(bus, QStringLiteral("/org/freedesktop/UDisks2/Manager"),
                                     QStringLiteral("org.freedesktop.UDisks2.Manager"), QStringLiteral("ResolveDevice"),
                                     {device, QVariantMap()});
  if (resolved.type() != QDBusMessage::ReplyMessage) return {-1, RefusalOf(resolved)};
  const QList<QDBusObjectPath> objects =
      resolved.arguments().isEmpty() ? QList<QDBusObjectPath>()
                                     : qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().constFirst());
  if (objects.isEmpty()) return {-1, AccessRefusal::NotFound};

  const QDBusMessage opened = Call(bus, objects.constFirst().path(), QStringLiteral("org.freedesktop.UDisks2.Block"),
                                   QStringLiteral("OpenDevice"), {QStringLiteral("r"), QVariantMap()});
  if (opened.type() != QDBusMessage::ReplyMessage) return {-1, RefusalOf(opened)};
  if (opened.arguments().isEmpty()) return {-1, AccessRefusal::NoService};
  const auto descriptor = qdbus_cast<QDBusUnixFileDescriptor>(opened.arguments().constFirst());
  if (!descriptor.isValid()) return {-1, AccessRefusal::NoService};
  // The message's descriptor closes with it; the caller gets its own.
  const int fd = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return {-1, AccessRefusal::NoService};
  return {fd, AccessRefusal::None};
}

}  // namespace vellumark
