#include "wl_session.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>

#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace kplat {
namespace wl {
namespace {

// WAYLAND_SOCKET is left alone: it belongs to the host, and libwayland's
// own connect would take it over (and unset it).
bool SocketAddress(const char *name, sockaddr_un *address) {
  memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  return SocketPath(name, address->sun_path, sizeof address->sun_path);
}

// A connected socket, or -1. The connect itself waits at most until the
// deadline (a compositor whose listen queue is full would block it).
int ConnectSocket(const char *name, const Deadline &deadline) {
  sockaddr_un address;
  if (!SocketAddress(name, &address)) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0) {
    bool connected = false;
    if (errno == EAGAIN || errno == EINPROGRESS) {
      struct pollfd p = {fd, POLLOUT, 0};
      int error = 0;
      socklen_t size = sizeof error;
      connected = poll(&p, 1, RemainingMs(deadline)) == 1 &&
                  getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
                  error == 0;
    }
    if (!connected) {
      close(fd);
      return -1;
    }
  }
  // libwayland waits with poll itself and expects a blocking socket.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

uint32_t Lower(uint32_t a, uint32_t b) { return a < b ? a : b; }

void OnGeometry(void *data, wl_output *, int32_t, int32_t, int32_t, int32_t,
                int32_t, const char *, const char *, int32_t transform) {
  static_cast<Output *>(data)->transform = transform;
}

void OnMode(void *data, wl_output *, uint32_t flags, int32_t width,
            int32_t height, int32_t) {
  if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
  Output *output = static_cast<Output *>(data);
  output->modeWidth = width;
  output->modeHeight = height;
}

void OnOutputDone(void *, wl_output *) {}
void OnScale(void *, wl_output *, int32_t) {}
void OnName(void *, wl_output *, const char *) {}
void OnDescription(void *, wl_output *, const char *) {}

const wl_output_listener kOutputListener = {OnGeometry, OnMode, OnOutputDone,
                                            OnScale,    OnName, OnDescription};

void OnLogicalPosition(void *data, zxdg_output_v1 *, int32_t x, int32_t y) {
  Output *output = static_cast<Output *>(data);
  output->x = x;
  output->y = y;
  output->haveLogicalPosition = true;
}

void OnLogicalSize(void *data, zxdg_output_v1 *, int32_t width,
                   int32_t height) {
  Output *output = static_cast<Output *>(data);
  output->width = width;
  output->height = height;
  output->haveLogicalSize = true;
}

void OnXdgDone(void *, zxdg_output_v1 *) {}
void OnXdgName(void *, zxdg_output_v1 *, const char *) {}
void OnXdgDescription(void *, zxdg_output_v1 *, const char *) {}

const zxdg_output_v1_listener kXdgOutputListener = {
    OnLogicalPosition, OnLogicalSize, OnXdgDone, OnXdgName, OnXdgDescription};

void OnGlobal(void *data, wl_registry *registry, uint32_t name,
              const char *interface, uint32_t version) {
  Session *session = static_cast<Session *>(data);
  if (strcmp(interface, wl_shm_interface.name) == 0 && !session->shm) {
    session->shm = static_cast<wl_shm *>(
        wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (strcmp(interface, wl_output_interface.name) == 0) {
    if (session->connected) {
      session->outputsChanged = true;
      return;
    }
    if (session->outputCount == kMaxOutputs) {
      session->tooManyOutputs = true;
      return;
    }
    Output *output = &session->outputs[session->outputCount];
    memset(output, 0, sizeof *output);
    output->globalName = name;
    // Version 2 brings the done event; nothing later is needed.
    output->output = static_cast<wl_output *>(wl_registry_bind(
        registry, name, &wl_output_interface, Lower(version, 2)));
    if (!output->output) return;
    wl_output_add_listener(output->output, &kOutputListener, output);
    ++session->outputCount;
  } else if (strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 &&
             !session->xdgOutputManager) {
    session->xdgOutputManager = static_cast<zxdg_output_manager_v1 *>(
        wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface,
                         Lower(version, 3)));
  } else if (strcmp(interface, zwlr_screencopy_manager_v1_interface.name) ==
                 0 &&
             !session->screencopy) {
    session->screencopyVersion = Lower(version, 3);
    session->screencopy = static_cast<zwlr_screencopy_manager_v1 *>(
        wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface,
                         session->screencopyVersion));
  }
}

// An output that comes or goes makes a kept session stale: the next call
// connects afresh. One that goes away during a call makes its capture fail.
void OnGlobalRemove(void *data, wl_registry *, uint32_t name) {
  Session *session = static_cast<Session *>(data);
  for (int i = 0; i < session->outputCount; ++i)
    if (session->outputs[i].globalName == name) session->outputsChanged = true;
}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

// libwayland reports protocol errors on stderr by default; the platform
// prints nothing. The handler is process-wide: a host that uses libwayland
// itself and wants its messages sets its own after us.
void DropMessage(const char *, va_list) {}

}  // namespace

bool SocketPath(const char *name, char *path, size_t room) {
  if (!name || !*name) return false;
  const char *dir = "";
  const char *slash = "";
  if (name[0] != '/') {
    dir = getenv("XDG_RUNTIME_DIR");
    if (!dir || !*dir) return false;
    slash = "/";
  }
  const int n = snprintf(path, room, "%s%s%s", dir, slash, name);
  return n >= 0 && size_t(n) < room;
}

bool Connect(Session *session, const char *socket, const Deadline &deadline) {
  memset(session, 0, sizeof *session);
  static bool quiet = false;
  if (!quiet) {
    wl_log_set_handler_client(DropMessage);
    quiet = true;
  }
  const int fd = ConnectSocket(socket, deadline);
  if (fd < 0) return false;
  session->display = wl_display_connect_to_fd(fd);
  if (!session->display) {
    close(fd);
    return false;
  }
  session->registry = wl_display_get_registry(session->display);
  if (!session->registry) {
    Disconnect(session);
    return false;
  }
  wl_registry_add_listener(session->registry, &kRegistryListener, session);
  // The first round brings the globals, the second what each output said
  // when bound.
  if (!Roundtrip(session->display, deadline) ||
      !Roundtrip(session->display, deadline) || session->tooManyOutputs) {
    Disconnect(session);
    return false;
  }
  session->connected = true;
  return true;
}

bool LearnLayout(Session *session, const Deadline &deadline) {
  if (session->xdgOutputManager) {
    bool asked = false;
    for (int i = 0; i < session->outputCount; ++i) {
      Output *output = &session->outputs[i];
      if (output->xdgOutput) continue;
      output->xdgOutput = zxdg_output_manager_v1_get_xdg_output(
          session->xdgOutputManager, output->output);
      if (!output->xdgOutput) return false;
      zxdg_output_v1_add_listener(output->xdgOutput, &kXdgOutputListener,
                                  output);
      asked = true;
    }
    if (asked && !Roundtrip(session->display, deadline)) return false;
  }
  for (int i = 0; i < session->outputCount; ++i) {
    Output *output = &session->outputs[i];
    if (!output->haveLogicalSize) {
      // Without xdg-output only a lone output can be placed: its mode,
      // turned as the user sees it, is the screen.
      if (session->outputCount != 1 || output->modeWidth <= 0) return false;
      const bool turned = output->transform & 1;
      output->width = turned ? output->modeHeight : output->modeWidth;
      output->height = turned ? output->modeWidth : output->modeHeight;
      output->haveLogicalSize = true;
    }
    if (!output->haveLogicalPosition) {
      if (session->outputCount != 1) return false;
      output->x = output->y = 0;
    }
    if (output->width <= 0 || output->height <= 0) return false;
  }
  return true;
}

void Disconnect(Session *session) {
  if (!session->display) return;
  // The proxies are freed without a destroy request: the compositor drops
  // them with the connection, and nothing is sent on a connection that a
  // forked child shares with its parent.
  wl_proxy *proxies[4 + 2 * kMaxOutputs];
  size_t count = 0;
  for (int i = 0; i < session->outputCount; ++i) {
    proxies[count++] =
        reinterpret_cast<wl_proxy *>(session->outputs[i].xdgOutput);
    proxies[count++] = reinterpret_cast<wl_proxy *>(session->outputs[i].output);
  }
  proxies[count++] = reinterpret_cast<wl_proxy *>(session->screencopy);
  proxies[count++] = reinterpret_cast<wl_proxy *>(session->xdgOutputManager);
  proxies[count++] = reinterpret_cast<wl_proxy *>(session->shm);
  proxies[count++] = reinterpret_cast<wl_proxy *>(session->registry);
  for (size_t i = 0; i < count; ++i)
    if (proxies[i]) wl_proxy_destroy(proxies[i]);
  // Closes the socket; sends nothing either.
  wl_display_disconnect(session->display);
  memset(session, 0, sizeof *session);
}

}  // namespace wl
}  // namespace kplat
