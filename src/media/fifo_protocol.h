// The "fifo" protocol: serves URLs "fifo:<name>" for a named pipe to be read. Opening a FIFO for
// reading blocks in open(2) until some process opens it for writing, and reading it blocks in
// read(2) until that process writes; the media library asks its interrupt callback only between such
// calls, so neither a time-out nor a stop could end the wait. This protocol opens the pipe without
// blocking and waits for data in short slices of poll(2), asking the calling thread's interrupt
// checks (interrupt.h) after each slice.
#pragma once

#include <string>

namespace qv {

// Registers the record unless a protocol named "fifo" is registered already; repeated calls are
// harmless.
void RegisterFifoProtocol();

// "fifo:<name>" when `fileName` names a FIFO (after following links), else "".
std::string FifoUrl(const std::string& fileName);

}  // namespace qv
