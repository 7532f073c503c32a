// A client of the desktop's ScreenCast portal (org.freedesktop.portal.ScreenCast on the session
// bus): asks for one monitor's stream (or one window's, where the desktop offers windows) and opens
// the PipeWire remote that carries it. On a desktop that asks the user (GNOME, KDE), Start waits for
// the answer.
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

  // A window rather than a monitor: the user picks it in the desktop's dialog.
  void AskForWindow(bool window) { Window = window; }
  // CreateSession, SelectSources (one monitor or window; the pointer embedded or hidden as
  // `embedCursor` says, where the portal offers that mode) and Start. false with `error` in words
  // for the user; `Refused()` then tells the user's no from a failure.
  bool Start(bool embedCursor, std::string& error);
  bool Refused() const;
  // The desktop ended the share (the session's Closed signal); reads the bus without waiting.
  bool Closed();
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
  struct TBus;
  bool StartOnce(bool embedCursor, std::string& error);
  void CloseSession();
  std::unique_ptr<TBus> Bus;
  bool Window = false;
  std::string SessionHandle;
  TScreenCastStream Granted;
  std::string Token;
};

// The portal's cursor mode for a pointer `drawn` or not, of the modes `offered` (its bit mask):
// embedded for a drawn one, hidden for one left out; 0 (the portal's default) when that is not offered.
std::uint32_t ChooseCursorMode(bool drawn, std::uint32_t offered);

// The session bus answers and a ScreenCast portal is on it.
bool ScreenCastPortalPresent();

}  // namespace qv
