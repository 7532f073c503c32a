#include "selection/toolkit_display.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

namespace qv {

_XDisplay* ToolkitDisplay() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->display() : nullptr;
}

}  // namespace qv
