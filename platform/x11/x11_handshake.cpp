#include "x11_handshake.h"

#include <X11/Xauth.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "wincrt.h"
#include "x11_wait.h"

namespace kplat {
namespace x11 {
namespace {

const char kCookieName[] = "MIT-MAGIC-COOKIE-1";
const int kTcpPortBase = 6000;
// The family Xauth uses for connections on this host.
const unsigned short kFamilyLocal = 256;
const unsigned short kFamilyInternet = 0;
const unsigned short kFamilyInternet6 = 6;

// Closes a descriptor on every path unless released.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Connects a non-blocking socket within the deadline; signals and a full
// listen queue (EAGAIN on a local socket) do not end the attempt early.
bool ConnectWithin(int fd, const struct sockaddr *addr, socklen_t len,
                   const Deadline &deadline) {
  for (;;) {
    if (connect(fd, addr, len) == 0) return true;
    if (errno == EAGAIN) {
      if (deadline.RemainingMs() == 0) return false;
      usleep(5000);
      continue;
    }
    if (errno != EINPROGRESS && errno != EINTR && errno != EALREADY)
      return false;
    if (!WaitForDescriptor(fd, POLLOUT, deadline)) return false;
    int error = 0;
    socklen_t size = sizeof(error);
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
           error == 0;
  }
}

int NewSocket(int family) {
  return socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// The local socket of display number n: the abstract name first, then the
// file, as libxcb tries them.
int OpenLocal(int display, const Deadline &deadline) {
  char path[64];
  snprintf(path, sizeof path, "/tmp/.X11-unix/X%d", display);
  for (int abstract = 1; abstract >= 0; --abstract) {
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const size_t n = strlen(path);
    memcpy(addr.sun_path + abstract, path, n);
    const socklen_t len =
        socklen_t(offsetof(struct sockaddr_un, sun_path) + abstract + n);
    Fd fd(NewSocket(AF_UNIX));
    if (fd.get() < 0) return -1;
    if (ConnectWithin(fd.get(), reinterpret_cast<sockaddr *>(&addr), len,
                      deadline))
      return fd.release();
  }
  return -1;
}

// TCP to host, port 6000 + display, on the address families protocol
// allows ("tcp" or none: any; "inet": IPv4; "inet6": IPv6).
int OpenTcp(const char *hostName, const char *protocol, int display,
            const Deadline &deadline) {
  int family = AF_UNSPEC;
  if (strcmp(protocol, "inet") == 0)
    family = AF_INET;
  else if (strcmp(protocol, "inet6") == 0)
    family = AF_INET6;
  else if (protocol[0] != '\0' && strcmp(protocol, "tcp") != 0)
    return -1;
  // An IPv6 address may come in brackets.
  char host[256];
  size_t n = strlen(hostName);
  if (n > 2 && hostName[0] == '[' && hostName[n - 1] == ']') {
    ++hostName;
    n -= 2;
  }
  if (n >= sizeof host) return -1;
  memcpy(host, hostName, n);
  host[n] = '\0';
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  char port[16];
  snprintf(port, sizeof port, "%d", kTcpPortBase + display);
  struct addrinfo *list = nullptr;
  if (getaddrinfo(host, port, &hints, &list) != 0) return -1;
  int result = -1;
  for (struct addrinfo *a = list; a && result < 0; a = a->ai_next) {
    Fd fd(NewSocket(a->ai_family));
    if (fd.get() >= 0 &&
        ConnectWithin(fd.get(), a->ai_addr, a->ai_addrlen, deadline))
      result = fd.release();
  }
  freeaddrinfo(list);
  return result;
}

// The server's socket, as libxcb would choose it: a local socket when the
// host is empty or "unix" (or the protocol is "unix"), else TCP.
int OpenServerSocket(const char *protocol, const char *host, int display,
                     const Deadline &deadline) {
  if (strcmp(protocol, "unix") != 0 && host[0] != '\0' &&
      strcmp(host, "unix") != 0)
    return OpenTcp(host, protocol, display, deadline);
  if (protocol[0] != '\0' && strcmp(protocol, "unix") != 0) return -1;
  return OpenLocal(display, deadline);
}

// The cookie Xauth holds for this server, looked up by the address the
// socket reached, as libxcb does; NULL when there is none.
Xauth *FindCookie(int fd, int display) {
  struct sockaddr_storage peer;
  socklen_t len = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) != 0)
    return nullptr;
  unsigned short family = kFamilyLocal;
  const char *addr = nullptr;
  int addrLen = 0;
  static const uint8_t kV4Loopback[4] = {127, 0, 0, 1};
  if (peer.ss_family == AF_INET6) {
    const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&peer);
    const uint8_t *bytes = in6->sin6_addr.s6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
      if (memcmp(bytes + 12, kV4Loopback, 4) != 0) {
        family = kFamilyInternet;
        addr = reinterpret_cast<const char *>(bytes + 12);
        addrLen = 4;
      }
    } else if (!IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr)) {
      family = kFamilyInternet6;
      addr = reinterpret_cast<const char *>(bytes);
      addrLen = 16;
    }
  } else if (peer.ss_family == AF_INET) {
    const auto *in = reinterpret_cast<const sockaddr_in *>(&peer);
    if (memcmp(&in->sin_addr, kV4Loopback, 4) != 0) {
      family = kFamilyInternet;
      addr = reinterpret_cast<const char *>(&in->sin_addr);
      addrLen = 4;
    }
  } else if (peer.ss_family != AF_UNIX) {
    return nullptr;
  }
  char hostName[256];
  if (family == kFamilyLocal) {
    if (gethostname(hostName, sizeof hostName) != 0) return nullptr;
    hostName[sizeof hostName - 1] = '\0';
    addr = hostName;
    addrLen = int(strlen(hostName));
  }
  char number[16];
  const int numberLen = snprintf(number, sizeof number, "%d", display);
  char *names[] = {const_cast<char *>(kCookieName)};
  int nameLens[] = {int(sizeof kCookieName - 1)};
  return XauGetBestAuthByAddr(family, (unsigned short)addrLen, addr,
                              (unsigned short)numberLen, number, 1, names,
                              nameLens);
}

// A block of bytes from malloc, freed on every path.
struct Bytes {
  char *data = nullptr;
  size_t size = 0;
  ~Bytes() { free(data); }
  bool Allocate(size_t n) {
    data = static_cast<char *>(malloc(n == 0 ? 1 : n));
    if (data == nullptr) return false;
    memset(data, 0, n);
    size = n;
    return true;
  }
};

size_t Padded(size_t n) { return (n + 3) / 4 * 4; }

// The connection setup request, in this machine's byte order (the order
// libxcb's own request uses, so the reply reads the same for it).
bool SetupRequest(const xcb_auth_info_t &auth, Bytes *request) {
  const size_t name = size_t(auth.namelen), data = size_t(auth.datalen);
  if (name > 0xFFFF || data > 0xFFFF ||
      !request->Allocate(12 + Padded(name) + Padded(data)))
    return false;
  const uint16_t one = 1;
  uint8_t littleEndian;
  memcpy(&littleEndian, &one, 1);
  request->data[0] = littleEndian ? 'l' : 'B';
  const uint16_t fields[5] = {11, 0, uint16_t(name), uint16_t(data), 0};
  memcpy(request->data + 2, fields, sizeof fields);
  if (name) memcpy(request->data + 12, auth.name, name);
  if (data) memcpy(request->data + 12 + Padded(name), auth.data, data);
  return true;
}

// Sends (or receives) all of size bytes within the deadline; signals do not
// cut it short.
bool TransferWithin(int fd, bool sending, char *p, size_t size,
                    const Deadline &deadline) {
  while (size > 0) {
    const ssize_t n =
        sending ? send(fd, p, size, MSG_NOSIGNAL) : recv(fd, p, size, 0);
    if (n > 0) {
      p += n;
      size -= size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!WaitForDescriptor(fd, sending ? POLLOUT : POLLIN, deadline))
        return false;
    } else {
      return false;  // the server closed, or the socket failed
    }
  }
  return true;
}

// Sends the setup request and reads the whole answer; true only for an
// accepted connection, whose setup reply (header included) is in *reply.
bool Handshake(int fd, const xcb_auth_info_t &auth, const Deadline &deadline,
               Bytes *reply) {
  Bytes request;
  if (!SetupRequest(auth, &request) ||
      !TransferWithin(fd, true, request.data, request.size, deadline))
    return false;
  char head[8];
  if (!TransferWithin(fd, false, head, sizeof head, deadline)) return false;
  uint16_t words;
  memcpy(&words, head + 6, 2);  // in our byte order, as we asked
  if (!reply->Allocate(sizeof head + size_t(words) * 4)) return false;
  memcpy(reply->data, head, sizeof head);
  if (!TransferWithin(fd, false, reply->data + sizeof head, size_t(words) * 4,
                      deadline))
    return false;
  if (head[0] != 1) _note_call_errno(EACCES);
  return head[0] == 1;  // 0: refused, 2: more authentication wanted
}

// A socket pair holding the reply for libxcb to read; libxcb's own setup
// request lands unread in the other end. While libxcb writes that request
// it also reads what has arrived, and would take a whole reply waiting
// there for X events; so the pair keeps message boundaries, and the reply
// goes as two messages: the 8-byte head, too short to be taken for an
// event, and the rest, which libxcb then asks for in one read.
bool StageReply(const Bytes &reply, int *ours, int *theirs) {
  int pair[2];
  if (reply.size < 8 ||
      socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
    return false;
  Fd a(pair[0]), b(pair[1]);
  int size = int(reply.size) * 2 + 4096;
  setsockopt(a.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  // Each message goes whole or not at all; nobody reads until libxcb does.
  if (send(a.get(), reply.data, 8, MSG_NOSIGNAL | MSG_DONTWAIT) != 8)
    return false;
  if (reply.size > 8 &&
      send(a.get(), reply.data + 8, reply.size - 8,
           MSG_NOSIGNAL | MSG_DONTWAIT) != ssize_t(reply.size - 8))
    return false;
  *ours = a.release();
  *theirs = b.release();
  return true;
}

// libxcb over the staged reply, then over the server's socket.
xcb_connection_t *HandOver(int server, const Bytes &reply,
                           xcb_auth_info_t *auth) {
  int ours = -1, theirs = -1;
  if (!StageReply(reply, &ours, &theirs)) return nullptr;
  Fd keep(ours);
  xcb_connection_t *conn = xcb_connect_to_fd(theirs, auth);
  // A failed one has closed theirs; its error object is still to be freed.
  if (xcb_connection_has_error(conn)) {
    xcb_disconnect(conn);
    return nullptr;
  }
  // File status flags belong to the socket, not the descriptor number:
  // the server's socket is made non-blocking as libxcb made the pair's.
  const int flags = fcntl(server, F_GETFL);
  if (flags < 0 || fcntl(server, F_SETFL, flags | O_NONBLOCK) != 0 ||
      dup3(server, xcb_get_file_descriptor(conn), O_CLOEXEC) < 0) {
    xcb_disconnect(conn);
    return nullptr;
  }
  return conn;
}

// The text of the display name before its last '/', which libxcb reads as
// the protocol; false when it is too long to be one.
bool ProtocolOf(const char *name, char *protocol, size_t size) {
  const char *slash = strrchr(name, '/');
  const size_t n = slash ? size_t(slash - name) : 0;
  if (n >= size) return false;
  memcpy(protocol, name, n);
  protocol[n] = '\0';
  return true;
}

}  // namespace

xcb_connection_t *ConnectQuietly(const char *displayName, int *screen) {
  char protocol[8];
  if (displayName == nullptr ||
      !ProtocolOf(displayName, protocol, sizeof protocol))
    return nullptr;
  char *host = nullptr;
  int display = 0;
  if (!xcb_parse_display(displayName, &host, &display, screen)) return nullptr;
  const Deadline deadline;
  Fd server(OpenServerSocket(protocol, host, display, deadline));
  free(host);
  if (server.get() < 0) return nullptr;
  Xauth *cookie = FindCookie(server.get(), display);
  xcb_auth_info_t auth = {0, nullptr, 0, nullptr};
  if (cookie) {
    auth.namelen = cookie->name_length;
    auth.name = cookie->name;
    auth.datalen = cookie->data_length;
    auth.data = cookie->data;
  }
  Bytes reply;
  xcb_connection_t *conn = nullptr;
  if (Handshake(server.get(), auth, deadline, &reply))
    conn = HandOver(server.get(), reply, &auth);
  if (cookie) XauDisposeAuth(cookie);
  return conn;
}

}  // namespace x11
}  // namespace kplat
