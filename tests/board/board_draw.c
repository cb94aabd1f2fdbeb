/* Guest side of the board tests: puts the board pattern on the screen.
 *   board-draw fb DEVICE          draws into a framebuffer device, any
 *                                 truecolour layout it reports
 *   board-draw drm DEVICE SECONDS sets the first connected output to an
 *                                 XRGB8888 dumb buffer holding the pattern,
 *                                 and leaves a child holding it for at most
 *                                 SECONDS (the buffer goes with the last
 *                                 descriptor)
 *   board-draw drm-read DEVICE    writes the picture on the first lit CRTC
 *                                 (XRGB8888, or RGB565 with each level in
 *                                 the top bits of its byte) as a PPM to
 *                                 standard output, read back through its
 *                                 dumb buffer (a reference capture for the
 *                                 DRM screen)
 * Prints one line describing the screen; exits non-zero on any failure. */
#define _FILE_OFFSET_BITS 64
#include <drm/drm.h>
#include <drm/drm_mode.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "pattern.h"

static int Fail(const char *what) {
  fprintf(stderr, "board-draw: %s: %s\n", what, strerror(errno));
  return 1;
}

static int Ioctl(int fd, unsigned long request, void *arg) {
  int r;
  do r = ioctl(fd, request, arg);
  while (r == -1 && (errno == EINTR || errno == EAGAIN));
  return r;
}

static uint32_t Pack(const struct fb_var_screeninfo *v, const uint8_t rgb[3]) {
  return BoardQuantize(rgb[0], v->red.length) << v->red.offset |
         BoardQuantize(rgb[1], v->green.length) << v->green.offset |
         BoardQuantize(rgb[2], v->blue.length) << v->blue.offset;
}

static int DrawFb(const char *path) {
  const int fd = open(path, O_RDWR);
  if (fd < 0) return Fail(path);
  struct fb_var_screeninfo v;
  struct fb_fix_screeninfo f;
  if (Ioctl(fd, FBIOGET_VSCREENINFO, &v) || Ioctl(fd, FBIOGET_FSCREENINFO, &f))
    return Fail("FBIOGET_*SCREENINFO");
  const unsigned bytes = v.bits_per_pixel / 8;
  if (f.visual != FB_VISUAL_TRUECOLOR ||
      (bytes != 2 && bytes != 3 && bytes != 4)) {
    fprintf(stderr, "board-draw: not a truecolour screen\n");
    return 1;
  }
  uint8_t *mem =
      mmap(NULL, f.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mem == MAP_FAILED) return Fail("mmap");
  const int w = (int)v.xres, h = (int)v.yres;
  for (int y = 0; y < h; ++y) {
    uint8_t *row = mem + (size_t)(y + v.yoffset) * f.line_length +
                   (size_t)v.xoffset * bytes;
    for (int x = 0; x < w; ++x) {
      uint8_t rgb[3];
      BoardPattern(x, y, w, h, rgb);
      const uint32_t p = Pack(&v, rgb);
      for (unsigned k = 0; k < bytes; ++k)
        row[x * bytes + k] = (uint8_t)(p >> (8 * k));
    }
  }
  msync(mem, f.smem_len, MS_SYNC);
  /* Panning to where we are makes drivers with a shadow copy flush it. */
  Ioctl(fd, FBIOPAN_DISPLAY, &v);
  printf("fb %dx%d bpp %u r%u/%u g%u/%u b%u/%u\n", w, h, v.bits_per_pixel,
         v.red.offset, v.red.length, v.green.offset, v.green.length,
         v.blue.offset, v.blue.length);
  return 0;
}

/* The first connected connector with a mode, and a CRTC that can drive it. */
static int FindOutput(int fd, uint32_t *connector, uint32_t *crtc,
                      struct drm_mode_modeinfo *mode) {
  struct drm_mode_card_res res = {0};
  if (Ioctl(fd, DRM_IOCTL_MODE_GETRESOURCES, &res)) return Fail("GETRESOURCES");
  uint32_t conns[16], crtcs[16], encs[16];
  if (res.count_connectors > 16 || res.count_crtcs > 16 ||
      res.count_encoders > 16)
    return 1;
  res.count_fbs = 0;
  res.connector_id_ptr = (uintptr_t)conns;
  res.crtc_id_ptr = (uintptr_t)crtcs;
  res.encoder_id_ptr = (uintptr_t)encs;
  if (Ioctl(fd, DRM_IOCTL_MODE_GETRESOURCES, &res)) return Fail("GETRESOURCES");
  for (uint32_t i = 0; i < res.count_connectors; ++i) {
    struct drm_mode_modeinfo modes[64];
    struct drm_mode_get_connector c = {.connector_id = conns[i]};
    if (Ioctl(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c)) continue;
    if (c.connection != 1 || c.count_modes == 0 || c.count_modes > 64) continue;
    c.count_props = 0;
    c.count_encoders = 0;
    c.modes_ptr = (uintptr_t)modes;
    if (Ioctl(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c)) continue;
    struct drm_mode_get_encoder e = {.encoder_id = c.encoder_id};
    uint32_t possible = 0;
    if (c.encoder_id && !Ioctl(fd, DRM_IOCTL_MODE_GETENCODER, &e))
      possible = e.possible_crtcs;
    *crtc = 0;
    if (e.crtc_id) *crtc = e.crtc_id;
    for (uint32_t k = 0; !*crtc && k < res.count_crtcs; ++k)
      if (!possible || possible & (1u << k)) *crtc = crtcs[k];
    if (!*crtc) continue;
    *connector = conns[i];
    *mode = modes[0];
    for (uint32_t k = 0; k < c.count_modes; ++k)
      if (modes[k].type & DRM_MODE_TYPE_PREFERRED) *mode = modes[k];
    return 0;
  }
  fprintf(stderr, "board-draw: no connected output\n");
  return 1;
}

static int DrawDrm(const char *path, unsigned seconds) {
  const int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return Fail(path);
  uint32_t connector, crtc;
  struct drm_mode_modeinfo mode;
  if (FindOutput(fd, &connector, &crtc, &mode)) return 1;
  const int w = mode.hdisplay, h = mode.vdisplay;
  struct drm_mode_create_dumb dumb = {
      .width = (uint32_t)w, .height = (uint32_t)h, .bpp = 32};
  if (Ioctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &dumb)) return Fail("CREATE_DUMB");
  struct drm_mode_map_dumb map = {.handle = dumb.handle};
  if (Ioctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map)) return Fail("MAP_DUMB");
  uint8_t *mem = mmap(NULL, dumb.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                      (off_t)map.offset);
  if (mem == MAP_FAILED) return Fail("mmap");
  for (int y = 0; y < h; ++y) {
    uint32_t *row = (uint32_t *)(mem + (size_t)y * dumb.pitch);
    for (int x = 0; x < w; ++x) {
      uint8_t rgb[3];
      BoardPattern(x, y, w, h, rgb);
      row[x] = (uint32_t)rgb[0] << 16 | (uint32_t)rgb[1] << 8 | rgb[2];
    }
  }
  struct drm_mode_fb_cmd fb = {.width = (uint32_t)w,
                               .height = (uint32_t)h,
                               .pitch = dumb.pitch,
                               .bpp = 32,
                               .depth = 24,
                               .handle = dumb.handle};
  if (Ioctl(fd, DRM_IOCTL_MODE_ADDFB, &fb)) return Fail("ADDFB");
  struct drm_mode_crtc set = {.set_connectors_ptr = (uintptr_t)&connector,
                              .count_connectors = 1,
                              .crtc_id = crtc,
                              .fb_id = fb.fb_id,
                              .mode_valid = 1,
                              .mode = mode};
  if (Ioctl(fd, DRM_IOCTL_MODE_SETCRTC, &set)) return Fail("SETCRTC");
  struct drm_mode_fb_dirty_cmd dirty = {.fb_id = fb.fb_id};
  Ioctl(fd, DRM_IOCTL_MODE_DIRTYFB, &dirty); /* not every driver needs it */
  printf("drm %dx%d XRGB8888 crtc %u fb %u\n", w, h, crtc, fb.fb_id);
  fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return Fail("fork");
  if (child == 0) { /* holds the descriptor, and with it the picture */
    setsid();
    close(0);
    close(1);
    close(2);
    sleep(seconds);
    _exit(0);
  }
  return 0;
}

static int ReadDrm(const char *path) {
  const int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return Fail(path);
  struct drm_mode_card_res res = {0};
  uint32_t crtcs[16];
  if (Ioctl(fd, DRM_IOCTL_MODE_GETRESOURCES, &res) || res.count_crtcs > 16)
    return Fail("GETRESOURCES");
  res.count_fbs = res.count_connectors = res.count_encoders = 0;
  res.crtc_id_ptr = (uintptr_t)crtcs;
  if (Ioctl(fd, DRM_IOCTL_MODE_GETRESOURCES, &res)) return Fail("GETRESOURCES");
  for (uint32_t i = 0; i < res.count_crtcs; ++i) {
    struct drm_mode_crtc crtc = {.crtc_id = crtcs[i]};
    if (Ioctl(fd, DRM_IOCTL_MODE_GETCRTC, &crtc) || !crtc.fb_id) continue;
    struct drm_mode_fb_cmd fb = {.fb_id = crtc.fb_id};
    if (Ioctl(fd, DRM_IOCTL_MODE_GETFB, &fb)) return Fail("GETFB");
    const int wide = fb.bpp == 32 && fb.depth == 24;
    if (!(wide || (fb.bpp == 16 && fb.depth == 16)) || !fb.handle) {
      fprintf(stderr, "board-draw: framebuffer of %u bpp, handle %u\n", fb.bpp,
              fb.handle);
      return 1;
    }
    struct drm_mode_map_dumb map = {.handle = fb.handle};
    if (Ioctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map)) return Fail("MAP_DUMB");
    const size_t size = (size_t)fb.pitch * fb.height;
    const uint8_t *mem =
        mmap(NULL, size, PROT_READ, MAP_SHARED, fd, (off_t)map.offset);
    if (mem == MAP_FAILED) return Fail("mmap");
    const uint32_t w = crtc.mode.hdisplay, h = crtc.mode.vdisplay;
    printf("P6\n%u %u\n255\n", w, h);
    const size_t bytes = fb.bpp / 8;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t *at = mem + (size_t)(y + crtc.y) * fb.pitch +
                            (size_t)(x + crtc.x) * bytes;
        if (wide) {
          uint32_t p;
          memcpy(&p, at, 4);
          putchar((int)(p >> 16 & 0xFF));
          putchar((int)(p >> 8 & 0xFF));
          putchar((int)(p & 0xFF));
        } else {
          uint16_t p;
          memcpy(&p, at, 2);
          putchar((int)(p >> 11 << 3));
          putchar((int)(p >> 5 & 0x3F) << 2);
          putchar((int)(p & 0x1F) << 3);
        }
      }
    return fflush(stdout) ? Fail("write") : 0;
  }
  fprintf(stderr, "board-draw: no lit CRTC\n");
  return 1;
}

int main(int argc, char **argv) {
  if (argc == 3 && !strcmp(argv[1], "fb")) return DrawFb(argv[2]);
  if (argc == 4 && !strcmp(argv[1], "drm"))
    return DrawDrm(argv[2], (unsigned)atoi(argv[3]));
  if (argc == 3 && !strcmp(argv[1], "drm-read")) return ReadDrm(argv[2]);
  fprintf(
      stderr,
      "usage: board-draw fb DEVICE | drm DEVICE SECONDS | drm-read DEVICE\n");
  return 2;
}
