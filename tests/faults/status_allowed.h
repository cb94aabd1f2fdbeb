// The texts the JPEG writer may leave behind after a call.
#pragma once

#include <string>

namespace kfault {

// True when status is "Insufficient memory (case N)" for a number N.
bool IsOutOfMemoryText(const std::string &status);

// True when a JPEG call to path may have left status, given the text
// before the call: unchanged (the call failed before the writer), empty
// (compression started), the open-failure text for path, or an encoder
// failure the writer reports.
bool JpegStatusAllowed(const std::string &status, const std::string &before,
                       const std::string &path);

}  // namespace kfault
