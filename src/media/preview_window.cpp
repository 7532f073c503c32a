#include "media/preview_window.h"

#include <mutex>

namespace qv {

namespace {
std::mutex FactoryLock;
TPreviewWindowFactory& Factory() {
  static TPreviewWindowFactory factory;
  return factory;
}
}  // namespace

void SetPreviewWindowFactory(TPreviewWindowFactory factory) {
  std::lock_guard<std::mutex> lock(FactoryLock);
  Factory() = std::move(factory);
}

std::unique_ptr<TPreviewWindow> CreatePreviewWindow() {
  TPreviewWindowFactory factory;
  {
    std::lock_guard<std::mutex> lock(FactoryLock);
    factory = Factory();
  }
  return factory ? factory() : nullptr;
}

}  // namespace qv
