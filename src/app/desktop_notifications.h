// The desktop's notification service: org.freedesktop.Notifications on the session bus (GNOME
// Shell, Plasma, xfce4-notifyd, dunst, mako, ... all serve it), asked afresh for each notice, since
// a session may start its service after the program or replace it.
#pragma once

#include <QObject>
#include <map>
#include <vector>

#include "app/notices.h"

namespace qv {

// Threads: main thread only.
class TDesktopNotifications : public QObject {
  Q_OBJECT
 public:
  TDesktopNotifications();

  // Shows `notice` with its actions as the service's buttons, keeping them until the service says
  // the notification is gone. False (nothing shown) without a session bus or a service, or when the
  // notice has actions and the service shows none.
  bool Show(const TNotice& notice, const std::string& caption);

 private slots:
  void ActionInvoked(uint id, const QString& key);
  void NotificationClosed(uint id, uint reason);

 private:
  bool Listening = false;
  std::map<uint, std::vector<TNoticeAction>> Shown;
};

}  // namespace qv
