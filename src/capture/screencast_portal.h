// A client of the desktop's ScreenCast portal (org.freedesktop.portal.ScreenCast on the session
// bus): asks for one monitor's stream and opens the PipeWire remote that carries it. On a desktop
// that asks the user (GNOME, KDE), Start waits for the answer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qv {

struct TScreenCastStream {
  std::uint32_t Node = 0;     // the PipeWire node of the stream
  int Width = 0, Height = 0;  // as the portal announces it; 0 when it does not say
};

// Threads: used by one thread at a time (the device's reading thread).
class TScreenCastPortal {
 public:
  TScreenCastPortal();
  ~TScreenCastPortal();  // closes the portal session, which ends the stream
  TScreenCastPortal(const TScreenCastPortal&) = delete;
  TScreenCastPortal& operator=(const TScreenCastPortal&) = delete;

  // CreateSession, SelectSources (one monitor; the pointer drawn in when `embedCursor` and the
  // portal offers it) and Start. false with `error` in words for the user.
  bool Start(bool embedCursor, std::string& error);
  const TScreenCastStream& Stream() const { return Granted; }
  // The permission of an earlier Start to share the same screen without asking (portals of
  // ScreenCast version 4 and later); after Start, the one for next time, "" when the portal gave none.
  void SetRestoreToken(const std::string& token) { Token = token; }
  const std::string& RestoreToken() const { return Token; }
  // A connection to the PipeWire remote that serves the stream; the caller owns it. -1 on failure.
  int OpenRemote(std::string& error);
  // Start, then OpenRemote: the remote (the stream's node in Stream()), or -1 with `error` saying
  // which step failed.
  int Share(bool embedCursor, std::string& error);

 private:
  friend bool ScreenCastPortalPresent();
  friend bool GlobalShortcutsPortalPresent();
  struct TBus;
  std::unique_ptr<TBus> Bus;
  std::string SessionHandle;
  TScreenCastStream Granted;
  std::string Token;
};

// The session bus answers and a ScreenCast portal is on it.
bool ScreenCastPortalPresent();
// The desktop's portal has org.freedesktop.portal.GlobalShortcuts (xdg-desktop-portal 1.17 and later,
// with a desktop backend that implements it).
bool GlobalShortcutsPortalPresent();

}  // namespace qv
