#include "fake_x_server.h"

#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <mutex>

namespace ktest {
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
void Pad(std::vector<uint8_t> *b) {
  while (b->size() % 4) Put8(b, 0);
}

const uint32_t kRoot = 0x100;
const uint32_t kVisual = 0x21;

// The body of a little-endian setup reply: one 24-bit TrueColor screen of
// 32 bits per pixel.
std::vector<uint8_t> SetupBody(int w, int h, uint32_t idMask) {
  std::vector<uint8_t> body;
  Put32(&body, 1);         // release
  Put32(&body, 0x200000);  // resource id base
  Put32(&body, idMask);    // resource id mask
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
  Put32(&body, kRoot);
  Put32(&body, 0x101);     // colormap
  Put32(&body, 0xFFFFFF);  // white
  Put32(&body, 0);         // black
  Put32(&body, 0);         // input masks
  Put16(&body, uint16_t(w));
  Put16(&body, uint16_t(h));
  Put16(&body, 20);  // mm
  Put16(&body, 15);
  Put16(&body, 1);  // installed maps
  Put16(&body, 1);
  Put32(&body, kVisual);
  Put8(&body, 0);   // backing stores
  Put8(&body, 0);   // save unders
  Put8(&body, 24);  // root depth
  Put8(&body, 1);   // allowed depths
  Put8(&body, 24);  // depth
  Put8(&body, 0);
  Put16(&body, 1);  // visuals
  Put32(&body, 0);
  Put32(&body, kVisual);
  Put8(&body, 4);     // TrueColor
  Put8(&body, 8);     // bits per rgb
  Put16(&body, 256);  // colormap entries
  Put32(&body, 0xFF0000);
  Put32(&body, 0x00FF00);
  Put32(&body, 0x0000FF);
  Put32(&body, 0);
  return body;
}

// status 1 with the setup body, or 0 / 2 with the reason text.
std::vector<uint8_t> SetupAnswer(int status, const std::string &reason,
                                 std::vector<uint8_t> body = {}) {
  if (status != 1) {
    body.assign(reason.begin(), reason.end());
    Pad(&body);
  }
  std::vector<uint8_t> reply;
  Put8(&reply, uint8_t(status));
  Put8(&reply, status == 0 ? uint8_t(reason.size()) : 0);
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

bool WriteFully(int fd, const std::vector<uint8_t> &b) {
  size_t done = 0;
  while (done < b.size()) {
    const ssize_t n = send(fd, b.data() + done, b.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// The 32-byte start of a reply to request seq.
std::vector<uint8_t> ReplyHead(uint8_t data, uint16_t seq, uint32_t words) {
  std::vector<uint8_t> r;
  Put8(&r, 1);
  Put8(&r, data);
  Put16(&r, seq);
  Put32(&r, words);
  return r;
}

void Append(std::vector<uint8_t> *r, const std::vector<uint8_t> &more) {
  r->insert(r->end(), more.begin(), more.end());
}

void FillTo32(std::vector<uint8_t> *r, size_t start) {
  while (r->size() < start + 32) Put8(r, 0);
}

const uint8_t kShmOpcode = 130, kXcMiscOpcode = 131;

// QueryExtension: MIT-SHM and XC-MISC when offered, nothing else.
void AnswerQueryExtension(const std::vector<uint8_t> &body, bool shm,
                          uint16_t seq, std::vector<uint8_t> *r) {
  const size_t start = r->size();
  const size_t n = body.size() >= 2 ? size_t(body[0] | body[1] << 8) : 0;
  const std::string name =
      body.size() >= 4 + n
          ? std::string(body.begin() + 4, body.begin() + 4 + long(n))
          : "";
  uint8_t opcode = 0;
  if (shm && name == "MIT-SHM") opcode = kShmOpcode;
  if (shm && name == "XC-MISC") opcode = kXcMiscOpcode;
  Append(r, ReplyHead(0, seq, 0));
  Put8(r, opcode != 0);
  Put8(r, opcode);
  FillTo32(r, start);
}

}  // namespace

uint32_t FakeXServer::Pixel(int x, int y, int w, int h) {
  return uint32_t(w & 0xFF) << 16 | uint32_t(h & 0xFF) << 8 |
         uint32_t((x + y) & 0xFF);
}

FakeXServer::~FakeXServer() {
  stopping_ = true;
  if (listener_ >= 0) {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
  }
  if (thread_.joinable()) thread_.join();
  for (int fd : fds_) shutdown(fd, SHUT_RDWR);
  for (std::thread &t : clients_) t.join();
  for (int fd : fds_) close(fd);
  if (!path_.empty()) unlink(path_.c_str());
}

bool FakeXServer::Start(int display, Mode mode, const std::string &reason,
                        int setupW, int setupH) {
  display_ = display;
  mode_ = mode;
  reason_ = reason;
  setupW_ = setupW;
  setupH_ = setupH;
  setup_ = SetupBody(setupW, setupH, idMask_);
  if (tamper_) tamper_(&setup_);
  path_ = "/tmp/.X11-unix/X" + std::to_string(display);
  mkdir("/tmp/.X11-unix", 01777);
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  strncpy(addr.sun_path, path_.c_str(), sizeof(addr.sun_path) - 1);
  if (listener_ < 0 ||
      bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) ||
      listen(listener_, acceptDelayMs_ ? 0 : 8)) {
    path_.clear();
    return false;
  }
  thread_ = std::thread([this] { Serve(); });
  return true;
}

// The server's threads take no signal: a test's signals are meant for the
// library's thread, and would cut the server's reads short.
static void BlockSignals() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

void FakeXServer::Serve() {
  BlockSignals();
  for (;;) {
    if (acceptDelayMs_) usleep(useconds_t(acceptDelayMs_) * 1000);
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0 || stopping_) {
      if (fd >= 0) close(fd);
      return;
    }
    ++accepted_;
    fds_.push_back(fd);
    clients_.emplace_back([this, fd] { Answer(fd); });
  }
}

void FakeXServer::Answer(int fd) {
  BlockSignals();
  uint8_t head[12];
  if (!ReadFully(fd, head, 12)) return;
  const size_t name = head[6] | head[7] << 8, data = head[8] | head[9] << 8;
  std::vector<uint8_t> auth((name + 3) / 4 * 4 + (data + 3) / 4 * 4);
  if (!ReadFully(fd, auth.data(), auth.size())) return;
  const std::vector<uint8_t> &setup = setup_;
  switch (mode_) {
    case Mode::kRefuse:
      WriteFully(fd, SetupAnswer(0, reason_));
      return;
    case Mode::kAskMore:
      WriteFully(fd, SetupAnswer(2, reason_));
      return;
    case Mode::kSilentAtSetup:
      break;
    case Mode::kDeaf:
      // Deaf before the client can send anything more: its next write
      // finds the socket shut.
      shutdown(fd, SHUT_RD);
      WriteFully(fd, SetupAnswer(1, "", setup));
      return;
    case Mode::kSilentAfterSetup:
    case Mode::kAnswer:
    case Mode::kFlood:
      if (!WriteFully(fd, SetupAnswer(1, "", setup))) return;
      break;
  }
  std::mutex writing;
  std::atomic<bool> done{false};
  std::atomic<uint16_t> seq{0};
  std::thread flood;
  if (mode_ == Mode::kFlood)
    flood = std::thread([&] { Flood(fd, &writing, &seq, &done); });
  Requests(fd, &writing, &seq);
  done = true;
  if (flood.joinable()) flood.join();
}

// Events of no interest to anyone (MappingNotify), as fast as the client
// takes them, for 10 s or until it leaves.
void FakeXServer::Flood(int fd, std::mutex *writing,
                        const std::atomic<uint16_t> *lastSeq,
                        const std::atomic<bool> *done) {
  BlockSignals();
  // A deep queue keeps the client's socket from running dry whenever this
  // thread waits for a core (SO_SNDBUFFORCE: root only).
  const int deep = 16 << 20;
  if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &deep, sizeof deep) != 0)
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &deep, sizeof deep);
  std::vector<uint8_t> events;
  for (int i = 0; i < 4096; ++i) {
    Put8(&events, 34);
    FillTo32(&events, events.size() - 1);
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!*done && !stopping_ && std::chrono::steady_clock::now() < end) {
    std::lock_guard<std::mutex> lock(*writing);
    const uint16_t seq = *lastSeq;
    for (size_t at = 0; at < events.size(); at += 32)
      memcpy(&events[at + 2], &seq, 2);
    if (!WriteFully(fd, events)) return;
  }
}

void FakeXServer::Requests(int fd, std::mutex *writing,
                           std::atomic<uint16_t> *lastSeq) {
  uint16_t seq = 0;
  int lastW = setupW_, lastH = setupH_;
  for (;;) {
    uint8_t req[4];
    if (!ReadFully(fd, req, 4)) return;
    const size_t words = req[2] | req[3] << 8;
    std::vector<uint8_t> body(words > 1 ? (words - 1) * 4 : 0);
    if (!ReadFully(fd, body.data(), body.size())) return;
    *lastSeq = ++seq;
    if (mode_ != Mode::kAnswer && mode_ != Mode::kFlood) continue;
    std::vector<uint8_t> r;
    int w = setupW_, h = setupH_;
    if (size_) size_(req[0], &w, &h);
    // A resize reaches the client as the root's ConfigureNotify, before
    // any reply that shows the new size.
    if (w != lastW || h != lastH) {
      Put8(&r, 22);
      Put8(&r, 0);
      Put16(&r, uint16_t(seq - 1));
      Put32(&r, kRoot);  // event window
      Put32(&r, kRoot);  // window
      Put32(&r, 0);      // above sibling
      Put16(&r, 0);
      Put16(&r, 0);
      Put16(&r, uint16_t(w));
      Put16(&r, uint16_t(h));
      FillTo32(&r, 0);
      lastW = w;
      lastH = h;
    }
    const size_t start = r.size();
    switch (req[0]) {
      case 14:  // GetGeometry
        Append(&r, ReplyHead(24, seq, 0));
        Put32(&r, kRoot);
        Put16(&r, 0);
        Put16(&r, 0);
        Put16(&r, uint16_t(w));
        Put16(&r, uint16_t(h));
        FillTo32(&r, start);
        break;
      case 43:  // GetInputFocus
        Append(&r, ReplyHead(0, seq, 0));
        FillTo32(&r, start);
        break;
      case 98:
        AnswerQueryExtension(body, shm_, seq, &r);
        break;
      case kShmOpcode:
        if (req[1] == 0) {  // QueryVersion: 1.1, no descriptor passing
          Append(&r, ReplyHead(0, seq, 0));
          Put16(&r, 1);
          Put16(&r, 1);
          FillTo32(&r, start);
        } else if (req[1] == 4) {  // GetImage: the segment is not touched
          if (body.size() < 16) return;
          const uint32_t size = uint32_t(body[8] | body[9] << 8) *
                                uint32_t(body[10] | body[11] << 8) * 4;
          Append(&r, ReplyHead(24, seq, 0));
          Put32(&r, kVisual);
          Put32(&r, size);
          FillTo32(&r, start);
        }
        break;
      case kXcMiscOpcode:
        if (req[1] == 1) {  // GetXIDRange: never answered
          sleep(5);
          shutdown(fd, SHUT_RDWR);
          return;
        }
        break;
      case 91: {  // QueryColors: every pixel a grey of its low byte
        const size_t n = body.size() >= 4 ? (body.size() - 4) / 4 : 0;
        Append(&r, ReplyHead(0, seq, uint32_t(n * 2)));
        Put16(&r, uint16_t(n));
        FillTo32(&r, start);
        for (size_t i = 0; i < n; ++i)
          for (int c = 0; c < 4; ++c)
            Put16(&r, c < 3 ? body[4 + i * 4] * 257 : 0);
        break;
      }
      case 73: {  // GetImage
        if (body.size() < 16) return;
        const int x = int16_t(body[4] | body[5] << 8);
        const int y = int16_t(body[6] | body[7] << 8);
        const int iw = body[8] | body[9] << 8;
        const int ih = body[10] | body[11] << 8;
        if (x < 0 || y < 0 || x + iw > w || y + ih > h) {
          Put8(&r, 0);  // BadMatch
          Put8(&r, 8);
          Put16(&r, seq);
          FillTo32(&r, start);
          r[start + 10] = 73;
          break;
        }
        // The root's depth, as the setup (tampered or not) has it.
        const uint8_t depth = setup_.size() > 82 ? setup_[82] : 24;
        Append(&r, ReplyHead(depth, seq, uint32_t(iw) * uint32_t(ih)));
        Put32(&r, kVisual);
        FillTo32(&r, start);
        for (int row = 0; row < ih; ++row)
          for (int col = 0; col < iw; ++col)
            Put32(&r, Pixel(x + col, y + row, w, h));
        break;
      }
      default:
        break;  // requests without replies
    }
    if (tamperReplies_) tamperReplies_(req[0], &r);
    std::lock_guard<std::mutex> lock(*writing);
    if (!r.empty() && !WriteFully(fd, r)) return;
  }
}

bool WriteXauthority(const std::string &path, int display,
                     const std::vector<uint8_t> &cookie) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return false;
  auto counted = [](std::string *out, const std::string &s) {
    out->push_back(char(s.size() >> 8));
    out->push_back(char(s.size() & 0xFF));
    *out += s;
  };
  std::string entry;
  entry.push_back(char(1));  // FamilyLocal (256), big-endian
  entry.push_back(char(0));
  counted(&entry, host);
  counted(&entry, std::to_string(display));
  counted(&entry, "MIT-MAGIC-COOKIE-1");
  counted(&entry, std::string(cookie.begin(), cookie.end()));
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(entry.data(), 1, entry.size(), f) == entry.size();
  return fclose(f) == 0 && ok;
}

}  // namespace ktest
