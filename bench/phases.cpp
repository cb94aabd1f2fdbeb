// One call taken apart: the grab from the screen, the conversion into the
// 24-bit surface, the packing, the writer (encoding and file close) and the
// releases, beside the whole SnapShot call and the floor (the encoders alone
// on the packed pixels). Runs are interleaved; medians with min and max.
//
//   kestrel_phases [--x11] [--size WxH] [--depth 24|16] [--runs N]
//                  [--dir DIR] [--rss jpeg|png] [--faults jpeg|png]
//
// Without --x11 the screen is an in-process memory display holding the
// benchmark scene; with it, the X server named by DISPLAY (which the caller
// has drawn the scene on). --rss makes one call and reports its peak
// resident memory beside the floor's. --faults makes --runs calls, then
// as many floor runs, and reports the page faults and the processor time
// (user and system) of each per call: figures that a busy machine disturbs
// far less than wall time. The calls come first, before the harness
// allocates anything, so their faults are those a host's calls take.
#include <kestrel/kestrel.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture/packing.h"
#include "floor.h"
#include "kestrel_testing.h"
#include "scene.h"
#include "surface/dib_surface.h"
#include "surface/grab_screen.h"
#include "wincrt.h"
#include "writers/jpeg_writer.h"
#include "writers/png_writer.h"

namespace {

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

std::u16string Wide(const std::string &s) {
  return std::u16string(s.begin(), s.end());
}

struct Series {
  std::string name;
  std::vector<double> ms;
  double Median() const {
    std::vector<double> v = ms;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
};

struct Options {
  bool x11 = false;
  int w = 1920, h = 1080, depth = 24, runs = 15;
  std::string dir = "/tmp";
  std::string rss;
  std::string faults;
};

bool Parse(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--x11") {
      o->x11 = true;
    } else if (a == "--size" && more) {
      if (sscanf(argv[++i], "%dx%d", &o->w, &o->h) != 2) return false;
    } else if (a == "--depth" && more) {
      o->depth = atoi(argv[++i]);
    } else if (a == "--runs" && more) {
      o->runs = atoi(argv[++i]);
    } else if (a == "--dir" && more) {
      o->dir = argv[++i];
    } else if (a == "--rss" && more) {
      o->rss = argv[++i];
    } else if (a == "--faults" && more) {
      o->faults = argv[++i];
    } else {
      return false;
    }
  }
  return o->w > 0 && o->h > 0 && o->runs > 0 &&
         (o->depth == 24 || o->depth == 16);
}

bool InstallScene(const Options &o) {
  const std::vector<uint32_t> xrgb = kbench::DrawScene(o.w, o.h);
  if (o.depth == 16) {
    const std::vector<uint16_t> p = kbench::ToRgb565(xrgb);
    const KTestDisplayFormat f = {16, 0xF800, 0x07E0, 0x001F, nullptr};
    return KTestInstallMemoryDisplay(o.w, o.h, &f, p.data(), size_t(o.w) * 2);
  }
  const KTestDisplayFormat f = {32, 0xFF0000, 0x00FF00, 0x0000FF, nullptr};
  return KTestInstallMemoryDisplay(o.w, o.h, &f, xrgb.data(), size_t(o.w) * 4);
}

// The phases of SnapShot as it runs them, each timed; false when any fails.
bool TimedCall(const std::u16string &path, int quality, double *t) {
  double t0 = Now();
  HBITMAP hScreen = GrabScreen();
  double t1 = Now();
  if (hScreen == NULL) return false;
  int ok = 0;
  {
    CDibSurface surface;
    surface.CopyFrom(hScreen);
    double t2 = Now();
    const DWORD n = PackedSize(surface.m_nWidth, surface.m_nHeight);
    // The module's heap, as SnapShot's own packed buffer comes from it.
    BYTE *packed =
        surface.m_pBits && n ? static_cast<BYTE *>(CrtModuleMalloc(n)) : NULL;
    if (packed != NULL) {
      PackSurface(surface, packed, quality < 1 ? kPackBgr : kPackRgb);
      double t3 = Now();
      ok = quality < 1 ? WritePngFile(path.c_str(), packed, surface.m_nWidth,
                                      surface.m_nHeight)
                       : WriteJpegFile(path.c_str(), packed, surface.m_nWidth,
                                       surface.m_nHeight, quality);
      double t4 = Now();
      t[0] = t1 - t0;
      t[1] = t2 - t1;
      t[2] = t3 - t2;
      t[3] = t4 - t3;
      CrtModuleFree(packed);
    }
    DeleteObject(hScreen);
    t0 = Now();
  }
  t[4] = Now() - t0;  // the surface's destruction; the rest is tiny
  return ok == 1;
}

// The packed pixels of the current screen, in the writer's order.
std::vector<uint8_t> PackedScreen(bool rgb, int *w, int *h) {
  std::vector<uint8_t> out;
  HBITMAP hScreen = GrabScreen();
  if (hScreen == NULL) return out;
  CDibSurface surface;
  surface.CopyFrom(hScreen);
  DeleteObject(hScreen);
  if (surface.m_pBits == NULL) return out;
  *w = surface.m_nWidth;
  *h = surface.m_nHeight;
  out.resize(size_t(*w) * *h * 3);
  PackSurface(surface, out.data(), rgb ? kPackRgb : kPackBgr);
  return out;
}

long StatusKb(const char *key) {
  FILE *f = fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long v = -1;
  const size_t n = strlen(key);
  while (fgets(line, sizeof(line), f))
    if (strncmp(line, key, n) == 0) v = atol(line + n + 1);
  fclose(f);
  return v;
}

// Starts a new peak: the high-water mark drops to what is resident now.
void ResetPeak() {
  FILE *f = fopen("/proc/self/clear_refs", "w");
  if (f != nullptr) {
    fputs("5", f);
    fclose(f);
  }
}

int Rss(const Options &o) {
  const bool jpeg = o.rss == "jpeg";
  const std::string file = o.dir + "/rss." + (jpeg ? "jpg" : "png");
  // The call first, in a process that has made no screen-sized block yet,
  // so that no freed heap memory stays resident to hide its growth.
  ResetPeak();
  long base = StatusKb("VmRSS:");
  if (SnapShot(Wide(file).c_str(), jpeg ? 75 : 0) != 1) return 1;
  const long callKb = StatusKb("VmHWM:") - base;
  // Then the encoder's own working memory, on pixels already resident.
  int w = 0, h = 0;
  std::vector<uint8_t> px = PackedScreen(jpeg, &w, &h);
  if (px.empty()) return 1;
  ResetPeak();
  base = StatusKb("VmRSS:");
  if (!(jpeg ? kbench::FloorJpeg(file.c_str(), px.data(), w, h, 75)
             : kbench::FloorPng(file.c_str(), px.data(), w, h)))
    return 1;
  const long floorKb = StatusKb("VmHWM:") - base;
  printf(
      "rss_%s call_kb %ld encoder_kb %ld three_copies_kb %ld\n", o.rss.c_str(),
      callKb, floorKb,
      long((int64_t(w) * h * (o.depth == 16 ? 2 : 4) +
            int64_t(CDibSurface::AlignWidth(w)) * h * 3 + int64_t(w) * h * 3) /
           1024));
  return 0;
}

struct Usage {
  double cpuMs;
  long faults;
};

Usage UsageNow() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  const double cpu = (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
                     (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
  return {cpu, u.ru_minflt + u.ru_majflt};
}

// The calls' faults as a host sees them: measured first, before the
// harness has allocated anything that could pin the C heap's top and hide
// the pages a call's freed blocks give back and fault in again.
int Faults(const Options &o) {
  const bool jpeg = o.faults == "jpeg";
  const int quality = jpeg ? 75 : 0;
  char file[4096];
  snprintf(file, sizeof file, "%s/faults.%s", o.dir.c_str(),
           jpeg ? "jpg" : "png");
  char16_t wfile[4096];
  size_t n = 0;
  for (; file[n] != 0; ++n) wfile[n] = char16_t(file[n]);
  wfile[n] = 0;
  const Usage start = UsageNow();
  if (SnapShot(wfile, quality) != 1) return 1;
  const Usage a = UsageNow();
  for (int i = 0; i < o.runs; ++i)
    if (SnapShot(wfile, quality) != 1) return 1;
  const Usage b = UsageNow();
  int w = 0, h = 0;
  std::vector<uint8_t> px = PackedScreen(jpeg, &w, &h);
  if (px.empty() || !(jpeg ? kbench::FloorJpeg(file, px.data(), w, h, 75)
                           : kbench::FloorPng(file, px.data(), w, h)))
    return 1;
  const Usage c = UsageNow();
  for (int i = 0; i < o.runs; ++i)
    if (!(jpeg ? kbench::FloorJpeg(file, px.data(), w, h, 75)
               : kbench::FloorPng(file, px.data(), w, h)))
      return 1;
  const Usage d = UsageNow();
  const double runs = o.runs;
  printf("faults_%s first call %ld, then per call: snapshot %.1f floor %.1f\n",
         o.faults.c_str(), a.faults - start.faults,
         (b.faults - a.faults) / runs, (d.faults - c.faults) / runs);
  printf("cpu_%s ms per call: snapshot %.3f floor %.3f ratio %.3f\n",
         o.faults.c_str(), (b.cpuMs - a.cpuMs) / runs,
         (d.cpuMs - c.cpuMs) / runs, (b.cpuMs - a.cpuMs) / (d.cpuMs - c.cpuMs));
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  if (!Parse(argc, argv, &o)) {
    fprintf(stderr, "usage: see the head of bench/phases.cpp\n");
    return 2;
  }
  if (!o.x11 && !InstallScene(o)) {
    fprintf(stderr, "the memory display refused the scene\n");
    return 1;
  }
  if (!o.rss.empty()) return Rss(o);
  if (!o.faults.empty()) return Faults(o);

  int w = 0, h = 0;
  const std::vector<uint8_t> rgb = PackedScreen(true, &w, &h);
  const std::vector<uint8_t> bgr = PackedScreen(false, &w, &h);
  if (rgb.empty()) {
    fprintf(stderr, "no screen\n");
    return 1;
  }
  const char *phase[5] = {"grab", "convert", "pack", "write", "release"};
  const char *fmt[2] = {"jpeg", "png"};
  Series call[2], floor[2], parts[2][5];
  for (int f = 0; f < 2; ++f) {
    call[f].name = std::string("snapshot_") + fmt[f];
    floor[f].name = std::string("floor_") + fmt[f];
    for (int p = 0; p < 5; ++p)
      parts[f][p].name = std::string(fmt[f]) + "_" + phase[p];
  }
  for (int run = 0; run < o.runs; ++run) {
    for (int f = 0; f < 2; ++f) {
      const int quality = f == 0 ? 75 : 0;
      // A file each: rewriting the file another writer has just closed
      // waits for its write-back, which would fall on whoever came next.
      const std::string ext = f == 0 ? ".jpg" : ".png";
      const std::string file = o.dir + "/phases.floor" + ext;
      const std::u16string callFile = Wide(o.dir + "/phases.call" + ext);
      const std::u16string timedFile = Wide(o.dir + "/phases.timed" + ext);
      // The call and the encoder take turns at going first: whichever
      // follows the other format's encoding finds the caches cold.
      bool ok = true;
      for (int turn = 0; turn < 2; ++turn) {
        const double t0 = Now();
        if ((turn + run) % 2 == 0) {
          if (SnapShot(callFile.c_str(), quality) != 1) return 1;
          call[f].ms.push_back(Now() - t0);
        } else {
          ok = f == 0 ? kbench::FloorJpeg(file.c_str(), rgb.data(), w, h, 75)
                      : kbench::FloorPng(file.c_str(), bgr.data(), w, h);
          floor[f].ms.push_back(Now() - t0);
        }
      }
      double t[5];
      if (!ok || !TimedCall(timedFile, quality, t)) return 1;
      for (int p = 0; p < 5; ++p) parts[f][p].ms.push_back(t[p]);
    }
  }
  printf("# %dx%d depth %d, %s, %d runs; ms: median min max\n", w, h, o.depth,
         o.x11 ? "X server" : "memory display", o.runs);
  auto line = [](const Series &s) {
    printf("%-16s %9.3f %9.3f %9.3f\n", s.name.c_str(), s.Median(),
           *std::min_element(s.ms.begin(), s.ms.end()),
           *std::max_element(s.ms.begin(), s.ms.end()));
  };
  for (int f = 0; f < 2; ++f) {
    line(call[f]);
    line(floor[f]);
    for (int p = 0; p < 5; ++p) line(parts[f][p]);
    printf("ratio_%s        %9.3f\n", fmt[f],
           call[f].Median() / floor[f].Median());
  }
  return 0;
}
