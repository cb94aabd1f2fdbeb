// The frame that screen device contexts show: begun by the first GetDC(NULL)
// and ended when the last screen context is released, so that every call
// made while a screen context lives sees one size, one format and, once
// read, one picture.
#pragma once

#include "display.h"

namespace kplat {
namespace gdi {

struct ScreenFrame {
  Display *display;
  Frame frame;
};

// Joins the live frame, or begins one on the current display; NULL when no
// screen can be had now.
const ScreenFrame *JoinScreenFrame();

// Leaves the live frame; the last to leave ends it.
void LeaveScreenFrame();

// The live frame, else NULL.
const ScreenFrame *LiveScreenFrame();

// The live frame's size and format, or those of a frame begun and ended
// for the purpose (calls on memory contexts made while no screen context
// lives); false when no screen can be had.
bool LookAtScreen(Frame *frame);

}  // namespace gdi
}  // namespace kplat
