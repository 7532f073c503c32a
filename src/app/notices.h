// News the user did not ask for (a recording saved or stopped by itself, a device's notice, the
// recordings repaired at start, where the settings were written), shown where it does not stand in
// the way: a notification through the desktop's notification service, else a balloon from the tray
// icon, else a line in the control window. Never a box to click away: a recording may be going on.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/message_box.h"

class QSystemTrayIcon;

namespace qv {

class TDesktopNotifications;

// Something the user can do about a notice ("Open &folder", "Pla&y": the letter after "&" works a
// button of the program's own from the keyboard). `Key` names it to the notification service.
struct TNoticeAction {
  std::string Key, Caption;
  std::function<void()> Run;
  // The caption without its keyboard mark, for the desktop's notifications and the balloon.
  std::string Words() const;
};

struct TNotice {
  std::string Text;
  TMessageIcon Icon = TMessageIcon::Information;
  std::vector<TNoticeAction> Actions;
};

// Threads: main thread only.
class TNotices : public QObject {
  Q_OBJECT
 public:
  // `tray` outlives this.
  explicit TNotices(QSystemTrayIcon* tray);
  ~TNotices() override;

  // The notification service where the session has one that can offer the notice's actions; the
  // tray's balloon where the tray shows one (a click on it runs the first action); the window's
  // sink otherwise, which gets a notice that came before it when it is set.
  void Show(const TNotice& notice);
  void SetWindowSink(std::function<void(const TNotice&)> sink);
  // Runs `then` once the tray host has given the icon its place (at once if it has), or after two
  // seconds: a balloon points at the icon, and before that it would stand in the screen's corner.
  void OnceIconPlaced(std::function<void()> then);

  static constexpr const char* kCaption = "Quorvane";

 private:
  void ShowBalloon(const TNotice& notice);
  // Notices that come before the icon has its place (the program's first second) go as one balloon.
  void ShowBalloonOncePlaced(const TNotice& notice);

  QSystemTrayIcon* Tray;
  std::unique_ptr<TDesktopNotifications> Desktop;
  std::vector<TNoticeAction> BalloonActions;  // of the last balloon
  std::function<void(const TNotice&)> WindowSink;
  std::optional<TNotice> Waiting;  // for the window, which comes only once no tray host has shown up
  std::optional<TNotice> Unplaced;  // for the balloon, until the icon has its place
};

}  // namespace qv
