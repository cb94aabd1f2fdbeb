#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace ktest {

TempDir::TempDir() {
  char tmpl[] = "/tmp/kestrel-test-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  // Tests may leave read-only folders behind; make them removable first.
  std::string cmd =
      "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
  if (system(cmd.c_str()) != 0) {
  }
}

OutputCapture::OutputCapture() {
  fflush(stdout);
  fflush(stderr);
  char tmpl[] = "/tmp/kestrel-out-XXXXXX";
  file_ = mkstemp(tmpl);
  unlink(tmpl);
  saved_out_ = dup(1);
  saved_err_ = dup(2);
  dup2(file_, 1);
  dup2(file_, 2);
}

std::string OutputCapture::Stop() {
  if (file_ < 0) return "";
  fflush(stdout);
  fflush(stderr);
  dup2(saved_out_, 1);
  dup2(saved_err_, 2);
  close(saved_out_);
  close(saved_err_);
  std::string text;
  char buf[4096];
  lseek(file_, 0, SEEK_SET);
  ssize_t n;
  while ((n = read(file_, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  close(file_);
  file_ = -1;
  return text;
}

OutputCapture::~OutputCapture() { Stop(); }

int CountOpenFds() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (struct dirent *e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n - 1;  // the folder's own descriptor
}

bool FileExists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

long FileSize(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

std::vector<uint8_t> ReadFile(const std::string &path) {
  std::vector<uint8_t> data;
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return data;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    data.insert(data.end(), buf, buf + n);
  fclose(f);
  return data;
}

bool WriteFile(const std::string &path, const std::vector<uint8_t> &data) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
  return fclose(f) == 0 && ok;
}

std::u16string Utf16(const std::string &s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    uint32_t cp;
    int len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c >> 5) == 6) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F;
      len = 3;
    } else {
      cp = c & 0x07;
      len = 4;
    }
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
  }
  return out;
}

}  // namespace ktest
