// A small X server for tests, on a display number's local socket: it can
// refuse connections, stay silent, stop reading, or answer the few
// requests the X display makes (with a root window whose size a test may
// change between any two of them).
#pragma once

#include <stdint.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ktest {

class FakeXServer {
 public:
  enum class Mode {
    kRefuse,            // setup answered "Failed" with the reason text
    kAskMore,           // setup answered "Authenticate" with the reason text
    kSilentAtSetup,     // reads the setup request, never answers
    kSilentAfterSetup,  // accepts the setup, then reads and never answers
    kDeaf,              // accepts the setup, then stops reading (shut)
    kAnswer,            // accepts and answers requests (see below)
    kFlood,             // as kAnswer, while pouring events for 10 s
  };

  // Size of the root window, asked at every request (its opcode comes with
  // the call); a change is announced as the root's ConfigureNotify.
  using SizeFn = std::function<void(uint16_t opcode, int *w, int *h)>;

  FakeXServer() = default;
  FakeXServer(const FakeXServer &) = delete;
  FakeXServer &operator=(const FakeXServer &) = delete;
  ~FakeXServer();

  // Listens on /tmp/.X11-unix/X<display>. The setup describes one 24-bit
  // TrueColor screen of setupW x setupH (32 bits per pixel).
  bool Start(int display, Mode mode, const std::string &reason = "",
             int setupW = 64, int setupH = 48);
  // Before Start: a listen queue of one, and accept only every delayMs, so
  // that a client's connect can be made to wait.
  void SlowAccept(int delayMs) { acceptDelayMs_ = delayMs; }
  // Before Start: the setup's bytes as the test wants them (lengths that
  // lie, fields out of range).
  void TamperSetup(std::function<void(std::vector<uint8_t> *body)> tamper) {
    tamper_ = std::move(tamper);
  }
  // Before Start: the same for every reply (and event) sent with the
  // answer to a request with this opcode.
  using ReplyTamper =
      std::function<void(uint8_t opcode, std::vector<uint8_t> *bytes)>;
  void TamperReplies(ReplyTamper tamper) { tamperReplies_ = std::move(tamper); }
  // Before Start: the resource id mask the setup grants, and MIT-SHM 1.1
  // (SysV segments) with XC-MISC, whose GetXIDRange is never answered: the
  // connection is shut 5 s after it.
  void GrantIds(uint32_t mask) { idMask_ = mask; }
  void OfferShm() { shm_ = true; }
  std::string socketPath() const { return path_; }
  // kAnswer: where the root's size comes from (default: the setup's).
  void SetSize(SizeFn size) { size_ = std::move(size); }
  // kAnswer: the pixel value of (x, y) on a screen of w x h.
  static uint32_t Pixel(int x, int y, int w, int h);

  std::string name() const { return ":" + std::to_string(display_); }
  int accepted() const { return accepted_; }

 private:
  void Serve();
  void Answer(int fd);
  void Requests(int fd, std::mutex *writing, std::atomic<uint16_t> *lastSeq);
  void Flood(int fd, std::mutex *writing, const std::atomic<uint16_t> *lastSeq,
             const std::atomic<bool> *done);

  Mode mode_ = Mode::kAnswer;
  std::string reason_;
  int setupW_ = 64, setupH_ = 48;
  SizeFn size_;
  std::function<void(std::vector<uint8_t> *)> tamper_;
  ReplyTamper tamperReplies_;
  std::vector<uint8_t> setup_;  // the accepted setup's body
  uint32_t idMask_ = 0x1FFFFF;
  bool shm_ = false;
  int display_ = -1;
  int acceptDelayMs_ = 0;
  std::string path_;
  int listener_ = -1;
  std::thread thread_;
  std::vector<std::thread> clients_;
  std::vector<int> fds_;
  std::atomic<int> accepted_{0};
  std::atomic<bool> stopping_{false};
};

// An Xauthority file holding one MIT-MAGIC-COOKIE-1 for display number
// display on this host.
bool WriteXauthority(const std::string &path, int display,
                     const std::vector<uint8_t> &cookie);

}  // namespace ktest
