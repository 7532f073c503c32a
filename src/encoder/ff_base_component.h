// The base of the media components: a component with a name and an About text.
#pragma once

#include <string>

#include "encoder/encoder_records.h"

namespace qv {

class TComponent : public TObject {
 public:
  std::string Name;
};

class TFFBaseComponent : public TComponent {
 public:
  std::string About = "Quorvane media components: the FFmpeg libraries driven as a component";
};

}  // namespace qv
