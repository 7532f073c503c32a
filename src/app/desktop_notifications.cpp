#include "app/desktop_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace qv {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
// A service the bus starts on demand is given this long to come up and answer.
constexpr int kAnswerMs = 2000;

QDBusMessage Call(const char* method) { return QDBusMessage::createMethodCall(kService, kPath, kInterface, method); }

// Names from the desktop's icon theme (every theme has these).
QString IconName(TMessageIcon icon) {
  switch (icon) {
    case TMessageIcon::Error:
      return "dialog-error";
    case TMessageIcon::Warning:
      return "dialog-warning";
    case TMessageIcon::Information:
      break;
  }
  return "dialog-information";
}

}  // namespace

TDesktopNotifications::TDesktopNotifications() = default;

bool TDesktopNotifications::Show(const TNotice& notice, const std::string& caption) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  const QDBusMessage capabilities = bus.call(Call("GetCapabilities"), QDBus::Block, kAnswerMs);
  if (capabilities.type() != QDBusMessage::ReplyMessage || capabilities.arguments().isEmpty()) return false;
  const QStringList offered = capabilities.arguments().first().toStringList();
  if (!notice.Actions.empty() && !offered.contains("actions")) return false;
  if (!Listening)
    Listening = bus.connect(kService, kPath, kInterface, "ActionInvoked", this, SLOT(ActionInvoked(uint, QString))) &&
                bus.connect(kService, kPath, kInterface, "NotificationClosed", this,
                            SLOT(NotificationClosed(uint, uint)));
  QStringList actions;
  for (const TNoticeAction& action : notice.Actions)
    actions << QString::fromStdString(action.Key) << QString::fromStdString(action.Words());
  // A click on the notification itself does what its first button does.
  if (!notice.Actions.empty()) actions << "default" << QString::fromStdString(notice.Actions.front().Words());
  QString body = QString::fromStdString(notice.Text);
  if (offered.contains("body-markup")) body = body.toHtmlEscaped();  // a file name may hold "&" or "<"
  QVariantMap hints;
  // A failure stays until it is seen.
  hints["urgency"] = QVariant::fromValue<uchar>(notice.Icon == TMessageIcon::Error ? 2 : 1);
  hints["desktop-entry"] = "quorvane";
  QDBusMessage notify = Call("Notify");
  const QString app = QString::fromStdString(caption);
  notify << app << uint(0) << IconName(notice.Icon) << app << body << actions << hints << int(-1);
  const QDBusMessage reply = bus.call(notify, QDBus::Block, kAnswerMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  if (!notice.Actions.empty()) Shown[reply.arguments().first().toUInt()] = notice.Actions;
  return true;
}

void TDesktopNotifications::ActionInvoked(uint id, const QString& key) {
  const auto shown = Shown.find(id);
  if (shown == Shown.end() || shown->second.empty()) return;  // another program's notification
  // A copy: the action may show a notice of its own.
  const std::vector<TNoticeAction> actions = shown->second;
  for (const TNoticeAction& action : actions)
    if (key == "default" || key.toStdString() == action.Key) {
      if (action.Run) action.Run();
      return;
    }
}

void TDesktopNotifications::NotificationClosed(uint id, uint) { Shown.erase(id); }

}  // namespace qv
