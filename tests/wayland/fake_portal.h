// A desktop portal of the test's own on a private bus: it owns the portal's
// name, offers Screenshot and answers each request with the answers a test
// chose (right, mistyped, refused, silent, or sent by another client of the
// bus on the request's path), counting requests and Close calls. It runs in
// a child process, so the test process may hang or crash on its answers
// without taking the portal along, and holds no libdbus lock a fork could
// inherit.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ktest {

struct PortalAnswer {
  enum class Kind {
    kUri,            // Response(0, {"uri": s})
    kMistyped,       // Response(0, {1: s}): results a{uv}
    kUriNotAString,  // Response(0, {"uri": u})
    kRefusal,        // Response(1, {})
  };
  Kind kind = Kind::kUri;
  std::string uri;
  bool fromOtherClient = false;  // a second connection sends it
  bool wrongPath = false;        // on a path of another request
  int delayMs = 0;               // waited before sending
};

class FakePortal {
 public:
  FakePortal() = default;
  FakePortal(const FakePortal &) = delete;
  FakePortal &operator=(const FakePortal &) = delete;
  ~FakePortal() { Stop(); }

  // Connects to the bus at address, takes the portal's name and serves;
  // every Screenshot request gets these answers in order (none: the
  // request stays unanswered). False when it did not come up within 10 s.
  bool Start(const std::string &address,
             const std::vector<PortalAnswer> &answers);
  void Stop();

  // Screenshot requests and Close calls served so far.
  int Screenshots() { return Count('S'); }
  int Closes() { return Count('C'); }

 private:
  int Count(char what);

  pid_t pid_ = -1;
  pid_t owner_ = -1;
  int events_ = -1;  // one byte per request ('S') or Close ('C')
  std::string seen_;
};

// "file://" and the path, for a PortalAnswer.
std::string FileUri(const std::string &path);

}  // namespace ktest
