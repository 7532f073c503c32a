// How an AVI lies on the disk, read from its chunk headers and indexes alone (no picture or sound is
// read, so a recording of tens of GB is judged in a few reads). Past 1 GB the writer closes the first
// RIFF ('AVI ', with its idx1) and goes on in further RIFFs ('AVIX'), each with a standard index
// (ix##) per stream, listed in the stream's super index (indx); the header's stream lengths and the
// OpenDML frame count (dmlh) are written only when the whole file is finished. So the first RIFF's
// size says nothing about the end of a long recording: only the whole chain does.
//
// Runs on the calling thread; nothing here is shared.
#pragma once

#include <string>

namespace qv {

// True when the file is a chain of RIFFs ('AVI ' first, 'AVIX' after it) each with its size written
// and within the file, and, for a chain of more than one, every stream's super index
// lists one standard index inside each RIFF, whose entries add up to the stream's length in its
// header, and the OpenDML frame count is that of the pictures indexed.
bool AviLayoutIsWhole(const std::string& fileName);

}  // namespace qv
