// Reads the module's status text; only for tests that link the module.
#include <string>

#include "capture/module_state.h"
#include "test_support.h"

namespace ktest {

std::string StatusText() {
  std::string out;
  LPCWSTR p = g_strLastMessage;
  for (int i = 0; i < g_strLastMessage.GetLength(); ++i) {
    char16_t c = p[i];
    // The texts under test are ASCII; mark anything else visibly.
    out += c < 0x80 ? char(c) : '?';
  }
  return out;
}

}  // namespace ktest
