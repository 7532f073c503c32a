// Hotkeys where no program may grab keys (Wayland): the desktop's GlobalShortcuts portal binds them
// for us, lets the user confirm or change them in its own settings, and tells us when one is pressed.
// Desktops have it from xdg-desktop-portal 1.17 on (GNOME 48, KDE Plasma 5.27 with their backends).
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qv {

struct TPortalShortcut {
  std::string Id;
  std::string Description;
  std::string PreferredTrigger;  // "CTRL+SHIFT+F9"; "" leaves the choice to the user
};

// Threads: main thread only; every answer of the portal comes through the event loop.
class TGlobalShortcuts : public QObject {
  Q_OBJECT
 public:
  // The version of the session's GlobalShortcuts portal; 0 where there is none.
  static unsigned PortalVersion();

  TGlobalShortcuts();
  ~TGlobalShortcuts() override;

  // Opens a session and asks for the shortcuts; the desktop may ask the user to confirm them. The
  // answers come later, as OnBound or OnFailed.
  void Bind(std::vector<TPortalShortcut> shortcuts);

  // The id of a shortcut that was pressed.
  std::function<void(const std::string& id)> OnActivated;
  // Each bound shortcut's keys as the desktop describes them (by id; "" when it set none).
  std::function<void(const std::map<std::string, std::string>& triggers)> OnBound;
  std::function<void(const std::string& why)> OnFailed;

 private slots:
  void SessionCreated(uint response, const QVariantMap& results);
  void ShortcutsBound(uint response, const QVariantMap& results);
  void Activated(const QDBusMessage& signal);
  void ShortcutsChanged(const QDBusMessage& signal);

 private:
  // Calls a portal method whose answer is a Request's Response signal, delivered to `slot`.
  void Ask(const char* method, QList<QVariant> arguments, QVariantMap options, const char* slot);
  void StopListening();
  void Fail(const std::string& why);

  std::vector<TPortalShortcut> Wanted;
  QString Session;
  QString Listening;  // the request whose Response we wait for, and the slot that takes it
  const char* ListeningSlot = nullptr;
  int Requests = 0;
};

}  // namespace qv
