// The "unicode" protocol: serves URLs "unicode:utf8:<name>" by opening <name> (UTF-8) with the
// system's file calls, so names the locale's charset cannot carry still reach the media library.
// It lives in the media layer because the loader registers it after each load of libavformat.
#pragma once

namespace qv {

struct TProtocol;

// Registers the record unless a protocol named "unicode" is registered already; repeated calls are
// harmless.
void RegisterUnicodeProtocol();

// The record itself (for tests and for the engine's open path).
const TProtocol* UnicodeProtocol();

}  // namespace qv
