#include "screen_frame.h"

namespace kplat {
namespace gdi {
namespace {

ScreenFrame g_frame;
int g_users = 0;

}  // namespace

const ScreenFrame *JoinScreenFrame() {
  if (g_users > 0) {
    ++g_users;
    return &g_frame;
  }
  Display *display = CurrentDisplay();
  if (display == nullptr || !display->BeginFrame(&g_frame.frame))
    return nullptr;
  const Frame &f = g_frame.frame;
  if (f.width <= 0 || f.height <= 0 || !IsSupportedFormat(f.format)) {
    display->EndFrame();
    return nullptr;
  }
  g_frame.display = display;
  g_users = 1;
  return &g_frame;
}

void LeaveScreenFrame() {
  if (g_users <= 0) return;
  if (--g_users == 0) {
    g_frame.display->EndFrame();
    g_frame.display = nullptr;
  }
}

const ScreenFrame *LiveScreenFrame() {
  return g_users > 0 ? &g_frame : nullptr;
}

bool LookAtScreen(Frame *frame) {
  const ScreenFrame *live = JoinScreenFrame();
  if (live == nullptr) return false;
  *frame = live->frame;
  LeaveScreenFrame();
  return true;
}

}  // namespace gdi
}  // namespace kplat
