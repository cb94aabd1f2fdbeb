// A server that stops reading while the connection stays open makes
// libxcb's next write fail with EPIPE, which raises SIGPIPE unless the
// display holds it back. SIGPIPE keeps its default action here, so a leak
// ends the test binary.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "display.h"
#include "display_probe.h"
#include "xvfb_fixture.h"

namespace {

void Put8(std::vector<uint8_t> *b, uint8_t v) { b->push_back(v); }
void Put16(std::vector<uint8_t> *b, uint16_t v) {
  Put8(b, uint8_t(v));
  Put8(b, uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t> *b, uint32_t v) {
  Put16(b, uint16_t(v));
  Put16(b, uint16_t(v >> 16));
}

// A little-endian connection setup with one 64x48 TrueColor screen of
// depth 24.
std::vector<uint8_t> SetupReply() {
  std::vector<uint8_t> body;
  Put32(&body, 1);         // release
  Put32(&body, 0x200000);  // resource id base
  Put32(&body, 0x1FFFFF);  // resource id mask
  Put32(&body, 0);         // motion buffer
  Put16(&body, 4);         // vendor length
  Put16(&body, 65535);     // maximum request length
  Put8(&body, 1);          // screens
  Put8(&body, 1);          // pixmap formats
  Put8(&body, 0);          // image byte order: LSB first
  Put8(&body, 0);          // bitmap bit order
  Put8(&body, 32);         // bitmap scanline unit
  Put8(&body, 32);         // bitmap scanline pad
  Put8(&body, 8);          // min keycode
  Put8(&body, 255);        // max keycode
  Put32(&body, 0);         // pad
  for (char c : {'t', 'e', 's', 't'}) Put8(&body, uint8_t(c));
  for (uint8_t v : {24, 32, 32, 0, 0, 0, 0, 0}) Put8(&body, v);  // format
  Put32(&body, 0x100);                                           // root
  Put32(&body, 0x101);                                           // colormap
  Put32(&body, 0xFFFFFF);                                        // white
  Put32(&body, 0);                                               // black
  Put32(&body, 0);                                               // input masks
  Put16(&body, 64);                                              // width
  Put16(&body, 48);                                              // height
  Put16(&body, 20);                                              // mm
  Put16(&body, 15);
  Put16(&body, 1);  // installed maps
  Put16(&body, 1);
  Put32(&body, 0x21);  // root visual
  Put8(&body, 0);      // backing stores
  Put8(&body, 0);      // save unders
  Put8(&body, 24);     // root depth
  Put8(&body, 1);      // allowed depths
  Put8(&body, 24);     // depth
  Put8(&body, 0);
  Put16(&body, 1);  // visuals
  Put32(&body, 0);
  Put32(&body, 0x21);  // visual id
  Put8(&body, 4);      // TrueColor
  Put8(&body, 8);      // bits per rgb
  Put16(&body, 256);   // colormap entries
  Put32(&body, 0xFF0000);
  Put32(&body, 0x00FF00);
  Put32(&body, 0x0000FF);
  Put32(&body, 0);
  std::vector<uint8_t> reply;
  Put8(&reply, 1);  // success
  Put8(&reply, 0);
  Put16(&reply, 11);
  Put16(&reply, 0);
  Put16(&reply, uint16_t(body.size() / 4));
  reply.insert(reply.end(), body.begin(), body.end());
  return reply;
}

bool ReadFully(int fd, uint8_t *p, size_t n) {
  while (n) {
    const ssize_t r = read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

// Accepts connections on the display's socket, completes their setup and
// then stops reading from them without closing.
class DeafServer {
 public:
  bool Start(int display) {
    path_ = "/tmp/.X11-unix/X" + std::to_string(display);
    mkdir("/tmp/.X11-unix", 01777);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path_.c_str(), sizeof(addr.sun_path) - 1);
    if (bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) ||
        listen(listener_, 8))
      return false;
    thread_ = std::thread([this] { Serve(); });
    return true;
  }
  ~DeafServer() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    if (thread_.joinable()) thread_.join();
    for (int fd : clients_) close(fd);
    unlink(path_.c_str());
  }

 private:
  void Serve() {
    const std::vector<uint8_t> reply = SetupReply();
    for (;;) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      clients_.push_back(fd);
      uint8_t head[12];
      if (!ReadFully(fd, head, 12)) continue;
      const size_t name = head[6] | head[7] << 8, data = head[8] | head[9] << 8;
      std::vector<uint8_t> auth((name + 3) / 4 * 4 + (data + 3) / 4 * 4);
      if (!ReadFully(fd, auth.data(), auth.size())) continue;
      // Deaf before the client can send anything more: its next write
      // finds the socket shut.
      shutdown(fd, SHUT_RD);
      if (write(fd, reply.data(), reply.size()) != ssize_t(reply.size()))
        continue;
    }
  }

  std::string path_;
  int listener_ = -1;
  std::thread thread_;
  std::vector<int> clients_;
};

TEST(Sigpipe, WriteToAServerThatStoppedReadingFailsQuietly) {
  signal(SIGPIPE, SIG_DFL);
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  DeafServer server;
  ASSERT_TRUE(server.Start(number));
  setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
  kplat::CloseDisplays();
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  int w, h;
  EXPECT_FALSE(display->GetSize(&w, &h));
  kplat::PixelFormat format;
  EXPECT_FALSE(display->GetFormat(&format));
  uint8_t px[4];
  EXPECT_FALSE(display->ReadPixels(0, 0, 1, 1, px, 4));
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  kplat::CloseDisplays();
}

}  // namespace
