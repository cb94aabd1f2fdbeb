// Small tools shared by the test groups: temporary folders, captured
// output, descriptor counts, files and UTF-16 paths.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace ktest {

// A fresh folder under /tmp, removed with its contents at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string &path() const { return path_; }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sends this process's stdout and stderr to a file until Stop, which
// returns whatever was written to either.
class OutputCapture {
 public:
  OutputCapture();
  ~OutputCapture();
  std::string Stop();

 private:
  int saved_out_ = -1;
  int saved_err_ = -1;
  int file_ = -1;
};

int CountOpenFds();
bool FileExists(const std::string &path);
long FileSize(const std::string &path);  // -1 when missing
std::vector<uint8_t> ReadFile(const std::string &path);
// Replaces the file at path with data; false when any of it failed.
bool WriteFile(const std::string &path, const std::vector<uint8_t> &data);

// UTF-8 to UTF-16, written independently of the library's own conversion.
std::u16string Utf16(const std::string &utf8);

// The library's status text as UTF-8 (tests link the module's objects).
std::string StatusText();

}  // namespace ktest
