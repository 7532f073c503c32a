#include "media/ff_api.h"

namespace qv {

namespace {
// Function pointers and data pointers share a representation on every platform we build for.
#define QV_FF_ENTRY(kind, name) {kind, #name, reinterpret_cast<void**>(&ff::name), false},
#define QV_FF_OPTIONAL_ENTRY(kind, name) {kind, #name, reinterpret_cast<void**>(&ff::name), true},
const TFunctionEntry kEntries[] = {QV_FF_FUNCTIONS(QV_FF_ENTRY, QV_FF_OPTIONAL_ENTRY)};
#undef QV_FF_ENTRY
#undef QV_FF_OPTIONAL_ENTRY
}  // namespace

const TFunctionEntry* FunctionEntries(int& count) {
  count = int(sizeof(kEntries) / sizeof(kEntries[0]));
  return kEntries;
}

}  // namespace qv
