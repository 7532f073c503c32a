#include "app/notices.h"

#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>
#include <cctype>
#include <string>

#include "app/desktop_notifications.h"

namespace qv {

std::string TNoticeAction::Words() const {
  std::string words = Caption;
  std::erase(words, '&');
  return words;
}

TNotices::TNotices(QSystemTrayIcon* tray) : Tray(tray), Desktop(std::make_unique<TDesktopNotifications>()) {
  connect(Tray, &QSystemTrayIcon::messageClicked, this, [this] {
    if (!BalloonActions.empty() && BalloonActions.front().Run) BalloonActions.front().Run();
  });
}

TNotices::~TNotices() = default;

void TNotices::Show(const TNotice& notice) {
  if (LogAndHook({notice.Text, kCaption, notice.Icon, true})) return;
  if (Desktop->Show(notice, kCaption)) return;
  if (Tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable()) {
    ShowBalloonOncePlaced(notice);
    return;
  }
  if (WindowSink)
    WindowSink(notice);
  else
    Waiting = notice;
}

void TNotices::SetWindowSink(std::function<void(const TNotice&)> sink) {
  WindowSink = std::move(sink);
  if (WindowSink && Waiting) WindowSink(*Waiting);
  Waiting.reset();
}

void TNotices::OnceIconPlaced(std::function<void()> then) {
  auto placed = [this] {
    const QRect at = Tray->geometry();
    return at.isValid() && at.topLeft() != QPoint(0, 0);
  };
  if (placed()) {
    then();
    return;
  }
  auto* wait = new QTimer(this);
  wait->setInterval(100);
  auto tries = std::make_shared<int>(0);
  connect(wait, &QTimer::timeout, this, [wait, tries, placed, then = std::move(then)] {
    if (++*tries < 20 && !placed()) return;
    wait->stop();
    wait->deleteLater();
    then();
  });
  wait->start();
}

void TNotices::ShowBalloonOncePlaced(const TNotice& notice) {
  if (Unplaced) {  // a wait is on: this one goes with it
    Unplaced->Text += "\n" + notice.Text;
    if (notice.Icon > Unplaced->Icon) Unplaced->Icon = notice.Icon;
    if (Unplaced->Actions.empty()) Unplaced->Actions = notice.Actions;
    return;
  }
  Unplaced = notice;
  OnceIconPlaced([this] {
    const TNotice waited = *Unplaced;
    Unplaced.reset();
    ShowBalloon(waited);
  });
}

void TNotices::ShowBalloon(const TNotice& notice) {
  BalloonActions = notice.Actions;
  std::string text = notice.Text;
  if (!notice.Actions.empty()) {
    std::string what = notice.Actions.front().Words();
    if (!what.empty()) what[0] = char(std::tolower(static_cast<unsigned char>(what[0])));
    text += "\nClick to " + what + ".";
  }
  const QSystemTrayIcon::MessageIcon icon = notice.Icon == TMessageIcon::Error     ? QSystemTrayIcon::Critical
                                            : notice.Icon == TMessageIcon::Warning ? QSystemTrayIcon::Warning
                                                                                   : QSystemTrayIcon::Information;
  // Long enough to read a file's path; a host may cut it short.
  Tray->showMessage(kCaption, QString::fromStdString(text), icon, 15000);
}

}  // namespace qv
