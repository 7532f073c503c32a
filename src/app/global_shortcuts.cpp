#include "app/global_shortcuts.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace qv {

namespace {

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kInterface[] = "org.freedesktop.portal.GlobalShortcuts";
constexpr char kRequest[] = "org.freedesktop.portal.Request";
// The portal answers its methods at once (the user's answer comes as a signal); one that does not
// answer in this time is not going to.
constexpr int kCallTimeoutMs = 5000;

// One shortcut as the portal takes and gives it: (sa{sv}).
struct TWireShortcut {
  QString Id;
  QVariantMap Properties;
};

QDBusArgument& operator<<(QDBusArgument& out, const TWireShortcut& shortcut) {
  out.beginStructure();
  out << shortcut.Id << shortcut.Properties;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, TWireShortcut& shortcut) {
  in.beginStructure();
  in >> shortcut.Id >> shortcut.Properties;
  in.endStructure();
  return in;
}

}  // namespace

}  // namespace qv

Q_DECLARE_METATYPE(qv::TWireShortcut)

namespace qv {

namespace {

// The keys of each shortcut of an a(sa{sv}) the portal sent, as it describes them.
std::map<std::string, std::string> TriggersOf(const QVariant& value) {
  std::map<std::string, std::string> triggers;
  if (value.userType() != qMetaTypeId<QDBusArgument>()) return triggers;
  QList<TWireShortcut> shortcuts;
  value.value<QDBusArgument>() >> shortcuts;
  for (const TWireShortcut& shortcut : shortcuts)
    triggers[shortcut.Id.toStdString()] = shortcut.Properties.value("trigger_description").toString().toStdString();
  return triggers;
}

// The session handle comes as a string in some portal versions and as an object path in others.
QString PathOf(const QVariant& value) {
  if (value.userType() == qMetaTypeId<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
  return value.toString();
}

std::string ResponseText(uint response) {
  return response == 1 ? "the user declined" : "the desktop answered " + std::to_string(response);
}

}  // namespace

unsigned TGlobalShortcuts::PortalVersion() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return 0;
  QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
  ask << QString::fromLatin1(kInterface) << QStringLiteral("version");
  const QDBusMessage reply = bus.call(ask, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return 0;
  return reply.arguments().first().value<QDBusVariant>().variant().toUInt();
}

TGlobalShortcuts::TGlobalShortcuts() {
  qDBusRegisterMetaType<TWireShortcut>();
  qDBusRegisterMetaType<QList<TWireShortcut>>();
}

TGlobalShortcuts::~TGlobalShortcuts() {
  if (Session.isEmpty()) return;
  // The desktop drops the bindings with the session; nobody waits for its answer.
  QDBusConnection::sessionBus().call(
      QDBusMessage::createMethodCall(kService, Session, "org.freedesktop.portal.Session", "Close"), QDBus::NoBlock);
}

void TGlobalShortcuts::Bind(std::vector<TPortalShortcut> shortcuts) {
  Wanted = std::move(shortcuts);
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.connect(kService, kPath, kInterface, "Activated", this, SLOT(Activated(QDBusMessage)));
  bus.connect(kService, kPath, kInterface, "ShortcutsChanged", this, SLOT(ShortcutsChanged(QDBusMessage)));
  Ask("CreateSession", {}, {{"session_handle_token", QStringLiteral("quorvane")}},
      SLOT(SessionCreated(uint, QVariantMap)));
}

void TGlobalShortcuts::Ask(const char* method, QList<QVariant> arguments, QVariantMap options, const char* slot) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QString token = QStringLiteral("quorvane%1").arg(++Requests);
  options.insert("handle_token", token);
  // The request's path is known before the call, so its answer cannot come before we listen.
  const QString sender = bus.baseService().mid(1).replace('.', '_');
  Listening = QStringLiteral("%1/request/%2/%3").arg(kPath, sender, token);
  ListeningSlot = slot;
  bus.connect(kService, Listening, kRequest, "Response", this, slot);
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
  call.setArguments(arguments << options);
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
  const std::string what = method;
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, what] {
    watcher->deleteLater();
    if (watcher->isError()) Fail(what + " failed: " + watcher->error().message().toStdString());
  });
}

void TGlobalShortcuts::StopListening() {
  if (ListeningSlot) QDBusConnection::sessionBus().disconnect(kService, Listening, kRequest, "Response", this, ListeningSlot);
  ListeningSlot = nullptr;
}

void TGlobalShortcuts::Fail(const std::string& why) {
  StopListening();
  if (OnFailed) OnFailed(why);
}

void TGlobalShortcuts::SessionCreated(uint response, const QVariantMap& results) {
  StopListening();
  Session = PathOf(results.value("session_handle"));
  if (response != 0 || Session.isEmpty()) {
    Session.clear();
    Fail("no session for the shortcuts: " + ResponseText(response));
    return;
  }
  QList<TWireShortcut> shortcuts;
  for (const TPortalShortcut& each : Wanted) {
    TWireShortcut shortcut{QString::fromStdString(each.Id),
                           {{"description", QString::fromStdString(each.Description)}}};
    if (!each.PreferredTrigger.empty())
      shortcut.Properties.insert("preferred_trigger", QString::fromStdString(each.PreferredTrigger));
    shortcuts << shortcut;
  }
  Ask("BindShortcuts",
      {QVariant::fromValue(QDBusObjectPath(Session)), QVariant::fromValue(shortcuts), QString()}, {},
      SLOT(ShortcutsBound(uint, QVariantMap)));
}

void TGlobalShortcuts::ShortcutsBound(uint response, const QVariantMap& results) {
  if (response != 0) {
    Fail("the shortcuts were not bound: " + ResponseText(response));
    return;
  }
  StopListening();
  if (OnBound) OnBound(TriggersOf(results.value("shortcuts")));
}

void TGlobalShortcuts::Activated(const QDBusMessage& signal) {
  const QList<QVariant> arguments = signal.arguments();
  if (arguments.size() < 2 || PathOf(arguments[0]) != Session || !OnActivated) return;
  OnActivated(arguments[1].toString().toStdString());
}

void TGlobalShortcuts::ShortcutsChanged(const QDBusMessage& signal) {
  const QList<QVariant> arguments = signal.arguments();
  if (arguments.size() < 2 || PathOf(arguments[0]) != Session || !OnBound) return;
  OnBound(TriggersOf(arguments[1]));
}

}  // namespace qv
