/* kestrel-snap: captures the screen to a PNG or JPEG file. */
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include "kestrel/kestrel.h"
#include "snap_output.h"

#define KESTREL_TEXT(x) #x
#define KESTREL_VERSION_TEXT(a, b, c) \
  KESTREL_TEXT(a) "." KESTREL_TEXT(b) "." KESTREL_TEXT(c)

static const char kUsage[] =
    "usage: kestrel-snap [-q QUALITY] [-d SECONDS] [FILE]\n"
    "Captures the whole screen to FILE.\n"
    "  FILE ending in .png            PNG (quality 0)\n"
    "  FILE ending in .jpg or .jpeg   JPEG at quality 90\n"
    "  FILE -                         standard output (PNG unless -q)\n"
    "  no FILE                        a new kestrel-TIME.png (.jpg with -q)\n"
    "                                 in the current folder\n"
    "  -q QUALITY   below 1 writes PNG, 1 to 100 a JPEG of that quality\n"
    "  -d SECONDS   waits that long before the capture\n"
    "  --help       this text\n"
    "  --version    the version\n";

static int Fail(const char *what, const char *detail) {
  fprintf(stderr, "kestrel-snap: %s%s%s\n", what, detail ? ": " : "",
          detail ? detail : "");
  return 1;
}

static const char *const kExtensions[] = {".png", ".jpg", ".jpeg"};

/* The last component of a path. */
static const char *BaseName(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

static int EndsWith(const char *s, const char *suffix) {
  const size_t n = strlen(s), m = strlen(suffix);
  return n > m && strcasecmp(s + n - m, suffix) == 0;
}

/* A name that is only an extension (".png"): most likely a name that lost
 * its first part, e.g. to an empty variable. */
static int IsBareExtension(const char *path) {
  const char *base = BaseName(path);
  for (size_t i = 0; i < sizeof kExtensions / sizeof kExtensions[0]; ++i)
    if (strcasecmp(base, kExtensions[i]) == 0) return 1;
  return 0;
}

/* A decimal integer, nothing around it: strtol alone would take leading
 * blanks and a plus sign. */
static int ParseQuality(const char *text, int *quality) {
  const char *digits = text[0] == '-' ? text + 1 : text;
  if (*digits < '0' || *digits > '9') return 0;
  char *end = NULL;
  errno = 0;
  const long v = strtol(text, &end, 10);
  if (errno || end == text || *end != '\0' || v < INT_MIN || v > INT_MAX)
    return 0;
  *quality = (int)v;
  return 1;
}

/* Strict UTF-8 to UTF-16: no overlong forms, surrogates or values past
 * U+10FFFF. Returns a malloc'd NUL-terminated string, or NULL. */
static WCHAR *Utf8ToUtf16(const char *text) {
  const unsigned char *s = (const unsigned char *)text;
  const size_t n = strlen(text);
  WCHAR *out = malloc((n + 1) * sizeof(WCHAR));
  size_t o = 0, i = 0;
  if (!out) return NULL;
  while (i < n) {
    unsigned long cp;
    int extra;
    const unsigned char c = s[i];
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F;
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F;
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07;
      extra = 3;
    } else {
      free(out);
      return NULL;
    }
    if ((size_t)extra > n - i - 1) {
      free(out);
      return NULL;
    }
    for (int k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        free(out);
        return NULL;
      }
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      free(out);
      return NULL;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out[o++] = (WCHAR)(0xD800 + (cp >> 10));
      out[o++] = (WCHAR)(0xDC00 + (cp & 0x3FF));
    } else {
      out[o++] = (WCHAR)cp;
    }
    i += (size_t)extra + 1;
  }
  out[o] = 0;
  return out;
}

/* A whole number of seconds to wait, 0 to a day. */
static int ParseDelay(const char *text, int *seconds) {
  int v = 0;
  if (!ParseQuality(text, &v) || v < 0 || v > 86400) return 0;
  *seconds = v;
  return 1;
}

static void Wait(int seconds) {
  struct timespec left = {seconds, 0};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

/* Why SnapShot returned 0, in a user's words. */
static const char *Reason(int error) {
  switch (error) {
    case ENODEV:
      return "no screen found";
    case ETIMEDOUT:
      return "the screen did not answer in time";
    case EACCES:
      return "permission refused";
    default:
      return strerror(error);
  }
}

/* Captures to path; 0 on success, else errno's reason on stderr and 1. */
static int Capture(const char *path, int quality, const char *shown) {
  WCHAR *wide = Utf8ToUtf16(path);
  if (!wide) return Fail("FILE is not valid UTF-8", NULL);
  const int ok = SnapShot(wide, quality);
  const int error = errno;
  free(wide);
  if (ok) return 0;
  fprintf(stderr, "kestrel-snap: cannot capture the screen to %s: %s\n", shown,
          Reason(error));
  return 1;
}

/* The picture through an anonymous file, then copied to the descriptor
 * the program was given: reopening /dev/stdout would truncate a shared
 * file and cannot reach a socket. */
static int CaptureToStandardOutput(int quality) {
  /* Else the anonymous file could become descriptor 1 itself. */
  if (fcntl(1, F_GETFD) < 0)
    return Fail("cannot write to standard output", strerror(errno));
  char path[64];
  const int fd = OpenAnonymousFile(path, sizeof path);
  if (fd < 0) return Fail("cannot make a temporary file", strerror(errno));
  int status = Capture(path, quality, "standard output");
  if (status == 0 && CopyToStandardOutput(fd) != 0)
    status = Fail("cannot write to standard output", strerror(errno));
  close(fd);
  return status;
}

/* Text for standard output: the exit status says whether all of it got
 * there (a closed pipe, a full device). */
static int PrintText(const char *text) {
  if (fputs(text, stdout) == EOF || fflush(stdout) == EOF || ferror(stdout))
    return Fail("cannot write to standard output", strerror(errno));
  return 0;
}

int main(int argc, char **argv) {
  const char *file = NULL;
  int quality = 0, haveQuality = 0, delay = 0;
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0)
      return PrintText(kUsage);
    if (strcmp(a, "--version") == 0)
      return PrintText("kestrel-snap " KESTREL_VERSION_TEXT(
          KESTREL_VERSION_MAJOR, KESTREL_VERSION_MINOR,
          KESTREL_VERSION_PATCH) "\n");
    if (strcmp(a, "-q") == 0) {
      if (++i >= argc) return Fail("-q needs a quality", NULL);
      if (!ParseQuality(argv[i], &quality))
        return Fail("not a quality", argv[i]);
      haveQuality = 1;
    } else if (strcmp(a, "-d") == 0) {
      if (++i >= argc) return Fail("-d needs a number of seconds", NULL);
      if (!ParseDelay(argv[i], &delay))
        return Fail("not a number of seconds (0 to 86400)", argv[i]);
    } else if (strcmp(a, "--") == 0) {
      if (i + 1 < argc && !file) file = argv[++i];
      if (i + 1 < argc) return Fail("only one FILE may be given", NULL);
    } else if (a[0] == '-' && a[1] != '\0') {
      return Fail("unknown option (see --help)", a);
    } else if (file) {
      return Fail("only one FILE may be given", a);
    } else {
      file = a;
    }
  }
  if (file && strcmp(file, "-") != 0 && IsBareExtension(file))
    return Fail("FILE has no name before its extension", file);
  if (file && strcmp(file, "-") != 0 && !haveQuality) {
    if (EndsWith(file, ".png"))
      quality = 0;
    else if (EndsWith(file, ".jpg") || EndsWith(file, ".jpeg"))
      quality = 90;
    else
      return Fail("cannot tell PNG or JPEG from the name; give -q", file);
  }
  if (file) {
    WCHAR *wide = Utf8ToUtf16(file); /* refused before any wait */
    if (!wide) return Fail("FILE is not valid UTF-8", NULL);
    free(wide);
  }
  /* A reader that leaves makes the copy fail with EPIPE, not a signal. */
  signal(SIGPIPE, SIG_IGN);
  if (delay > 0) Wait(delay);
  if (file && strcmp(file, "-") == 0) return CaptureToStandardOutput(quality);
  if (file) return Capture(file, quality, file);

  char name[96];
  if (CreateTimeNamedFile(quality < 1 ? ".png" : ".jpg", name, sizeof name))
    return Fail("cannot create a new file here", strerror(errno));
  const int status = Capture(name, quality, name);
  if (status != 0) unlink(name); /* ours, made empty above */
  return status;
}
