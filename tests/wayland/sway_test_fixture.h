// A headless sway per test, with helpers to shape its outputs and wait
// until what they show has settled.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compositor.h"
#include "images.h"
#include "wayland_capture.h"

namespace ktest {

class SwayTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts sway with one 640x480 output at (0, 0) plus these lines; the
  // test is skipped when sway or grim is missing, and fails when sway does
  // not start.
  void StartSway(const std::vector<std::string> &lines = {});

  // Adds HEADLESS-2 with these settings (mode, position, ...).
  void AddSecondOutput(const std::string &settings);

  // Shows image as the output's background, pixel for pixel.
  void ShowImage(const std::string &output, const Image &image);

  // Waits (10 s at most) until grim's picture satisfies done; the last
  // picture is left in *shot. False on timeout.
  template <typename Done>
  bool WaitForGrim(Image *shot, Done done) {
    for (int i = 0; i < 200; ++i) {
      if (GrimCapture(shot) && done(*shot)) return true;
      Pause(50);
    }
    return false;
  }

  // Shows Pattern(640, 480, seed) on HEADLESS-1 and waits until it is on
  // the screen; returns it.
  Image ShowPattern(int seed);

  // Waits until grim sees exactly the expected picture, then checks that
  // the Wayland screen sees the same, read into memory of the test's and
  // into memory the screen lends.
  void ExpectScreen(const Image &expected);

  static void Pause(int ms);

  Compositor sway_;
  int backgrounds_ = 0;
};

}  // namespace ktest
