#include "capture/screencast_portal.h"

#include <dbus/dbus.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace qv {

namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr int kCallTimeoutMs = 10000;
// Start may show the user a dialog (GNOME, KDE): give them time to answer it.
constexpr int kStartTimeoutMs = 120000;

constexpr std::uint32_t kSourceMonitor = 1;
constexpr std::uint32_t kSourceWindow = 2;
constexpr std::uint32_t kCursorHidden = 1;
constexpr std::uint32_t kCursorEmbedded = 2;
// Kept until the user revokes it; asked for from the interface's version 4 on.
constexpr std::uint32_t kPersistUntilRevoked = 2;
constexpr std::uint32_t kFirstVersionWithPersist = 4;

// One a{sv} entry of a portal call's options.
struct TOption {
  const char* Key;
  int Type;  // DBUS_TYPE_STRING, DBUS_TYPE_UINT32 or DBUS_TYPE_BOOLEAN
  std::string Text;
  dbus_uint32_t Number = 0;
};

void AppendOptions(DBusMessageIter* args, const std::vector<TOption>& options) {
  DBusMessageIter dict;
  dbus_message_iter_open_container(args, DBUS_TYPE_ARRAY, "{sv}", &dict);
  for (const TOption& o : options) {
    DBusMessageIter entry, variant;
    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &o.Key);
    const char signature[2] = {static_cast<char>(o.Type), 0};
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
    if (o.Type == DBUS_TYPE_STRING) {
      const char* text = o.Text.c_str();
      dbus_message_iter_append_basic(&variant, o.Type, &text);
    } else {
      dbus_message_iter_append_basic(&variant, o.Type, &o.Number);
    }
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(&dict, &entry);
  }
  dbus_message_iter_close_container(args, &dict);
}

// Moves `dict` (an a{sv}) to the variant's content under `key`; false when the key is absent.
bool FindEntry(DBusMessageIter dict, const char* key, DBusMessageIter& value) {
  if (dbus_message_iter_get_arg_type(&dict) != DBUS_TYPE_ARRAY) return false;
  DBusMessageIter entries;
  dbus_message_iter_recurse(&dict, &entries);
  for (; dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&entries)) {
    DBusMessageIter entry;
    dbus_message_iter_recurse(&entries, &entry);
    const char* name = nullptr;
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) continue;
    dbus_message_iter_get_basic(&entry, &name);
    if (std::string(name) != key || !dbus_message_iter_next(&entry)) continue;
    dbus_message_iter_recurse(&entry, &value);
    return true;
  }
  return false;
}

// The first stream of a Start response's "streams" (a(ua{sv})).
bool ReadFirstStream(DBusMessageIter streams, TScreenCastStream& stream) {
  if (dbus_message_iter_get_arg_type(&streams) != DBUS_TYPE_ARRAY) return false;
  DBusMessageIter items, item;
  dbus_message_iter_recurse(&streams, &items);
  if (dbus_message_iter_get_arg_type(&items) != DBUS_TYPE_STRUCT) return false;
  dbus_message_iter_recurse(&items, &item);
  if (dbus_message_iter_get_arg_type(&item) != DBUS_TYPE_UINT32) return false;
  dbus_uint32_t node = 0;
  dbus_message_iter_get_basic(&item, &node);
  stream.Node = node;
  DBusMessageIter size, pair;
  if (dbus_message_iter_next(&item) && FindEntry(item, "size", size) &&
      dbus_message_iter_get_arg_type(&size) == DBUS_TYPE_STRUCT) {
    dbus_message_iter_recurse(&size, &pair);
    dbus_int32_t w = 0, h = 0;
    if (dbus_message_iter_get_arg_type(&pair) == DBUS_TYPE_INT32) dbus_message_iter_get_basic(&pair, &w);
    if (dbus_message_iter_next(&pair) && dbus_message_iter_get_arg_type(&pair) == DBUS_TYPE_INT32)
      dbus_message_iter_get_basic(&pair, &h);
    stream.Width = w;
    stream.Height = h;
  }
  return true;
}

struct TMessageUnref {
  void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using TMessage = std::unique_ptr<DBusMessage, TMessageUnref>;

}  // namespace

// The device's own (private) connection to the session bus, so its messages never mix with
// another user of the bus in the process.
struct TScreenCastPortal::TBus {
  DBusConnection* Connection = nullptr;
  std::string Sender;  // our unique name as request paths spell it (":1.42" -> "1_42")
  unsigned Tokens = 0;
  dbus_uint32_t LastResponse = 0;  // of the last Request: 0 granted, 1 refused by the user, 2 other

  ~TBus() {
    if (!Connection) return;
    dbus_connection_close(Connection);
    dbus_connection_unref(Connection);
  }

  bool Connect(std::string& error) {
    DBusError e;
    dbus_error_init(&e);
    Connection = dbus_bus_get_private(DBUS_BUS_SESSION, &e);
    if (!Connection) {
      error = std::string("no session bus (") + (e.message ? e.message : "unknown") + ")";
      dbus_error_free(&e);
      return false;
    }
    dbus_connection_set_exit_on_disconnect(Connection, FALSE);
    std::string name = dbus_bus_get_unique_name(Connection);
    for (char& c : name)
      if (c == '.') c = '_';
    Sender = name.substr(name.starts_with(':') ? 1 : 0);
    return true;
  }

  std::string NewToken() { return "quorvane" + std::to_string(getpid()) + "_" + std::to_string(++Tokens); }

  TMessage Call(DBusMessage* call, int timeoutMs, std::string& error) {
    DBusError e;
    dbus_error_init(&e);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(Connection, call, timeoutMs, &e);
    dbus_message_unref(call);
    if (!reply) {
      error = e.message ? e.message : "no answer";
      dbus_error_free(&e);
    }
    return TMessage(reply);
  }

  // Calls a portal method whose answer comes as a Request's Response signal; returns that signal
  // once its response code is 0 (granted).
  TMessage Request(const char* method, const char* session, const std::vector<TOption>& extra, int timeoutMs,
                   std::string& error) {
    const std::string token = NewToken();
    const std::string path = "/org/freedesktop/portal/desktop/request/" + Sender + "/" + token;
    const std::string rule = "type='signal',interface='org.freedesktop.portal.Request',member='Response',path='" +
                             path + "'";
    dbus_bus_add_match(Connection, rule.c_str(), nullptr);
    DBusMessage* call = dbus_message_new_method_call(kPortal, kPortalPath, kScreenCast, method);
    DBusMessageIter args;
    dbus_message_iter_init_append(call, &args);
    if (session) dbus_message_iter_append_basic(&args, DBUS_TYPE_OBJECT_PATH, &session);
    if (std::string(method) == "Start") {
      const char* parent = "";
      dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parent);
    }
    std::vector<TOption> options = extra;
    options.push_back({"handle_token", DBUS_TYPE_STRING, token});
    AppendOptions(&args, options);
    if (!Call(call, kCallTimeoutMs, error)) return nullptr;
    TMessage response = WaitResponse(path, timeoutMs);
    dbus_bus_remove_match(Connection, rule.c_str(), nullptr);
    if (!response) {
      error = std::string(method) + " got no answer";
      return nullptr;
    }
    dbus_uint32_t code = 2;
    DBusMessageIter it;
    if (dbus_message_iter_init(response.get(), &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_UINT32)
      dbus_message_iter_get_basic(&it, &code);
    LastResponse = code;
    if (code != 0) {
      error = code == 1 ? "the user refused or cancelled it" : std::string(method) + " was refused";
      return nullptr;
    }
    return response;
  }

  TMessage WaitResponse(const std::string& path, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (dbus_connection_get_is_connected(Connection)) {
      while (DBusMessage* m = dbus_connection_pop_message(Connection)) {
        TMessage message(m);
        const char* at = dbus_message_get_path(m);
        if (dbus_message_is_signal(m, "org.freedesktop.portal.Request", "Response") && at && path == at)
          return message;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      dbus_connection_read_write(Connection, static_cast<int>(left));
    }
    return nullptr;
  }

  // Whether the session's Closed signal came (the desktop ended the share); never blocks.
  bool SessionClosed(const std::string& session) {
    if (!dbus_connection_get_is_connected(Connection)) return true;
    dbus_connection_read_write(Connection, 0);
    bool closed = false;
    while (DBusMessage* m = dbus_connection_pop_message(Connection)) {
      TMessage message(m);
      const char* at = dbus_message_get_path(m);
      closed |= dbus_message_is_signal(m, "org.freedesktop.portal.Session", "Closed") && at && session == at;
    }
    return closed;
  }

  // A uint32 property of the ScreenCast interface; 0 when it cannot be read.
  std::uint32_t Property(const char* name) {
    const char* iface = kScreenCast;
    DBusMessage* call =
        dbus_message_new_method_call(kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get");
    dbus_message_append_args(call, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    std::string error;
    TMessage reply = Call(call, kCallTimeoutMs, error);
    DBusMessageIter it, value;
    if (!reply || !dbus_message_iter_init(reply.get(), &it) ||
        dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_VARIANT)
      return 0;
    dbus_message_iter_recurse(&it, &value);
    if (dbus_message_iter_get_arg_type(&value) != DBUS_TYPE_UINT32) return 0;
    dbus_uint32_t number = 0;
    dbus_message_iter_get_basic(&value, &number);
    return number;
  }
};

TScreenCastPortal::TScreenCastPortal() = default;

TScreenCastPortal::~TScreenCastPortal() { CloseSession(); }

void TScreenCastPortal::CloseSession() {
  if (!Bus || SessionHandle.empty()) return;
  DBusMessage* close = dbus_message_new_method_call(kPortal, SessionHandle.c_str(),
                                                    "org.freedesktop.portal.Session", "Close");
  std::string ignored;
  Bus->Call(close, kCallTimeoutMs, ignored);
  SessionHandle.clear();
}

bool TScreenCastPortal::Refused() const { return Bus && Bus->LastResponse == 1; }

bool TScreenCastPortal::Closed() { return Bus && !SessionHandle.empty() && Bus->SessionClosed(SessionHandle); }

// A kept permission the portal failed the start with (one it no longer knows) is dropped and the
// user asked instead: once, and not after they said no.
bool TScreenCastPortal::Start(bool embedCursor, std::string& error) {
  const bool hadToken = !Token.empty();
  if (StartOnce(embedCursor, error)) return true;
  if (!hadToken || !Bus || Bus->LastResponse != 2) return false;
  CloseSession();
  return StartOnce(embedCursor, error);
}

bool TScreenCastPortal::StartOnce(bool embedCursor, std::string& error) {
  Bus = std::make_unique<TBus>();
  if (!Bus->Connect(error)) return false;
  const std::uint32_t sourceTypes = Bus->Property("AvailableSourceTypes");
  const std::uint32_t wanted = Window ? kSourceWindow : kSourceMonitor;
  if (!(sourceTypes & wanted)) {
    error = Window ? "the desktop does not offer single windows to record" : "the desktop offers no ScreenCast portal for monitors";
    return false;
  }
  TMessage created = Bus->Request("CreateSession", nullptr,
                                  {{"session_handle_token", DBUS_TYPE_STRING, Bus->NewToken()}}, kCallTimeoutMs, error);
  DBusMessageIter it, handle;
  if (!created) return false;
  dbus_message_iter_init(created.get(), &it);
  dbus_message_iter_next(&it);
  const char* session = nullptr;
  if (!FindEntry(it, "session_handle", handle) || dbus_message_iter_get_arg_type(&handle) != DBUS_TYPE_STRING) {
    error = "the portal gave no session";
    return false;
  }
  dbus_message_iter_get_basic(&handle, &session);
  SessionHandle = session;
  // The desktop may end the share at any time ("Stop sharing"); the reader asks Closed().
  const std::string closedRule =
      "type='signal',interface='org.freedesktop.portal.Session',member='Closed',path='" + SessionHandle + "'";
  dbus_bus_add_match(Bus->Connection, closedRule.c_str(), nullptr);

  std::vector<TOption> sources = {{"types", DBUS_TYPE_UINT32, "", wanted},
                                  {"multiple", DBUS_TYPE_BOOLEAN, "", FALSE}};
  const std::uint32_t cursorModes = Bus->Property("AvailableCursorModes");
  if (const std::uint32_t cursor = ChooseCursorMode(embedCursor, cursorModes))
    sources.push_back({"cursor_mode", DBUS_TYPE_UINT32, "", cursor});
  const bool persists = Bus->Property("version") >= kFirstVersionWithPersist;
  if (persists) {
    sources.push_back({"persist_mode", DBUS_TYPE_UINT32, "", kPersistUntilRevoked});
    if (!Token.empty()) sources.push_back({"restore_token", DBUS_TYPE_STRING, Token});
  }
  Token.clear();
  if (!Bus->Request("SelectSources", SessionHandle.c_str(), sources, kCallTimeoutMs, error)) return false;

  TMessage started = Bus->Request("Start", SessionHandle.c_str(), {}, kStartTimeoutMs, error);
  if (!started) return false;
  DBusMessageIter streams;
  dbus_message_iter_init(started.get(), &it);
  dbus_message_iter_next(&it);
  if (!FindEntry(it, "streams", streams) || !ReadFirstStream(streams, Granted)) {
    error = "the portal granted no stream";
    return false;
  }
  DBusMessageIter token;
  if (persists && FindEntry(it, "restore_token", token) && dbus_message_iter_get_arg_type(&token) == DBUS_TYPE_STRING) {
    const char* text = nullptr;
    dbus_message_iter_get_basic(&token, &text);
    Token = text ? text : "";
  }
  return true;
}

int TScreenCastPortal::OpenRemote(std::string& error) {
  DBusMessage* call = dbus_message_new_method_call(kPortal, kPortalPath, kScreenCast, "OpenPipeWireRemote");
  DBusMessageIter args;
  dbus_message_iter_init_append(call, &args);
  const char* session = SessionHandle.c_str();
  dbus_message_iter_append_basic(&args, DBUS_TYPE_OBJECT_PATH, &session);
  AppendOptions(&args, {});
  TMessage reply = Bus->Call(call, kCallTimeoutMs, error);
  if (!reply) return -1;
  int fd = -1;
  DBusError e;
  dbus_error_init(&e);
  if (!dbus_message_get_args(reply.get(), &e, DBUS_TYPE_UNIX_FD, &fd, DBUS_TYPE_INVALID)) {
    error = e.message ? e.message : "no PipeWire connection";
    dbus_error_free(&e);
    return -1;
  }
  return fd;
}

int TScreenCastPortal::Share(bool embedCursor, std::string& error) {
  if (!Start(embedCursor, error)) {
    error = Refused() ? std::string("The screen was not shared: the request was refused or cancelled.")
                      : "The desktop did not share the screen (" + error + ").";
    return -1;
  }
  const int fd = OpenRemote(error);
  if (fd < 0) error = "The desktop's screen stream cannot be reached (" + error + ").";
  return fd;
}

// A pointer sent as metadata would have to be drawn by us; no desktop here offers only that, so it
// is not asked for, and such a desktop's default mode stands.
std::uint32_t ChooseCursorMode(bool drawn, std::uint32_t offered) {
  const std::uint32_t mode = drawn ? kCursorEmbedded : kCursorHidden;
  return (offered & mode) ? mode : 0;
}

bool ScreenCastPortalPresent() {
  TScreenCastPortal::TBus bus;
  std::string error;
  return bus.Connect(error) && (bus.Property("AvailableSourceTypes") & kSourceMonitor) != 0;
}

}  // namespace qv
