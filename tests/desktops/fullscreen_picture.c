/* A known picture over the whole screen of a desktop without layer-shell:
 * one fullscreen xdg-shell toplevel showing a pattern in which neighbouring
 * pixels differ, drawn once at the size the compositor gives it. Runs until
 * killed; prints "shown WxH" once the compositor has had the frame. */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "xdg-shell-client-protocol.h"

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm_base;
static struct wl_surface *surface;
static int width = 0, height = 0, configured = 0, drawn = 0;

static void on_global(void *data, struct wl_registry *registry, uint32_t name,
                      const char *interface, uint32_t version) {
  (void)data;
  (void)version;
  if (strcmp(interface, wl_compositor_interface.name) == 0)
    compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 4);
  else if (strcmp(interface, wl_shm_interface.name) == 0)
    shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
  else if (strcmp(interface, xdg_wm_base_interface.name) == 0)
    wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
}
static void on_global_remove(void *data, struct wl_registry *r, uint32_t n) {
  (void)data;
  (void)r;
  (void)n;
}
static const struct wl_registry_listener registry_listener = {on_global,
                                                              on_global_remove};

static void on_ping(void *data, struct xdg_wm_base *base, uint32_t serial) {
  (void)data;
  xdg_wm_base_pong(base, serial);
}
static const struct xdg_wm_base_listener wm_base_listener = {on_ping};

static void on_toplevel_configure(void *data, struct xdg_toplevel *t, int32_t w,
                                  int32_t h, struct wl_array *s) {
  (void)data;
  (void)t;
  (void)s;
  if (w > 0 && h > 0) {
    width = w;
    height = h;
  }
}
static void on_toplevel_close(void *data, struct xdg_toplevel *t) {
  (void)data;
  (void)t;
}
static const struct xdg_toplevel_listener toplevel_listener = {
    on_toplevel_configure, on_toplevel_close, NULL, NULL};

static void on_surface_configure(void *data, struct xdg_surface *s,
                                 uint32_t serial) {
  (void)data;
  xdg_surface_ack_configure(s, serial);
  configured = 1;
}
static const struct xdg_surface_listener surface_listener = {
    on_surface_configure};

static void on_frame_done(void *data, struct wl_callback *cb, uint32_t t) {
  (void)data;
  (void)t;
  wl_callback_destroy(cb);
  printf("shown %dx%d\n", width, height);
  fflush(stdout);
}
static const struct wl_callback_listener frame_listener = {on_frame_done};

static int draw(void) {
  const int stride = width * 4;
  const size_t size = (size_t)stride * (size_t)height;
  const int fd = memfd_create("picture", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, (off_t)size) != 0) return 0;
  uint32_t *px = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (px == MAP_FAILED) return 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t r = (uint32_t)(x * 255 / (width - 1));
      const uint32_t g = (uint32_t)(y * 255 / (height - 1));
      const uint32_t b = (uint32_t)((x * 7 + y * 13) & 0xff);
      px[y * width + x] = 0xff000000u | r << 16 | g << 8 | b;
    }
  struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, (int32_t)size);
  struct wl_buffer *buffer = wl_shm_pool_create_buffer(
      pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage(surface, 0, 0, width, height);
  wl_callback_add_listener(wl_surface_frame(surface), &frame_listener, NULL);
  wl_surface_commit(surface);
  return 1;
}

int main(void) {
  struct wl_display *display = wl_display_connect(NULL);
  if (!display) {
    fprintf(stderr, "no compositor\n");
    return 1;
  }
  struct wl_registry *registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!compositor || !shm || !wm_base) {
    fprintf(stderr, "compositor lacks wl_compositor, wl_shm or xdg_wm_base\n");
    return 1;
  }
  xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
  surface = wl_compositor_create_surface(compositor);
  struct xdg_surface *xs = xdg_wm_base_get_xdg_surface(wm_base, surface);
  xdg_surface_add_listener(xs, &surface_listener, NULL);
  struct xdg_toplevel *top = xdg_surface_get_toplevel(xs);
  xdg_toplevel_add_listener(top, &toplevel_listener, NULL);
  xdg_toplevel_set_title(top, "kestrel picture");
  xdg_toplevel_set_fullscreen(top, NULL);
  wl_surface_commit(surface);
  while (wl_display_dispatch(display) != -1) {
    if (configured && !drawn && width > 0 && height > 0) {
      if (!draw()) return 1;
      drawn = 1;
    }
  }
  return 0;
}
