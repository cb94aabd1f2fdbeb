// Host side of the board tests: compares what the guest captured with
// QEMU's own picture of the same screen.
//   board-check screen SHOT BITS            SHOT shows the board pattern
//   board-check png SHOT FILE BITS          FILE decodes to SHOT's pixels
//   board-check jpeg SHOT FILE QUALITY BITS FILE is libjpeg's encoding of them
//   board-check ppm SHOT FILE BITS          a PPM capture holds SHOT's levels
//   board-check same SHOT OTHER             two screen pictures are equal
// BITS gives the screen's red, green and blue widths ("565", "888"). QEMU
// widens narrow channels its own way; the levels the screen holds are the
// top bits of each byte, and the library widens them with rounding.
// Prints one line; exits 0 on a match, 1 on a mismatch, 2 on bad input.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "board_image.h"
#include "images.h"
#include "test_support.h"
extern "C" {
#include "pattern.h"
}

namespace {

using ktest::Image;

int Usage() {
  fprintf(stderr,
          "usage: board-check screen SHOT BITS | png SHOT FILE BITS |\n"
          "       jpeg SHOT FILE QUALITY BITS | ppm SHOT FILE BITS | same SHOT "
          "OTHER\n");
  return 2;
}

int Report(const std::string &what, const kboard::Mismatch &m) {
  if (m.found) {
    printf("%s: %s\n", what.c_str(), m.text.c_str());
    return 1;
  }
  printf("%s: equal\n", what.c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) return Usage();
  const std::string cmd = argv[1];
  Image shot;
  if (!kboard::ReadPpm(argv[2], &shot)) {
    fprintf(stderr, "board-check: %s is not a binary PPM\n", argv[2]);
    return 2;
  }
  kboard::Bits bits;
  const char *bitsArg = argv[argc - 1];
  if (cmd != "same" && !kboard::ParseBits(bitsArg, &bits)) return Usage();

  if (cmd == "screen" && argc == 4) {
    Image want;
    kboard::PatternLevels(shot.width, shot.height, bits, &want);
    Image levels = kboard::Levels(shot, bits);
    return Report("screen against the pattern", kboard::Compare(levels, want));
  }
  if (cmd == "same" && argc == 4) {
    Image other;
    if (!kboard::ReadPpm(argv[3], &other)) return Usage();
    return Report("screen before and after", kboard::Compare(other, shot));
  }
  const std::string file = argv[3];
  const Image want = kboard::Widen(kboard::Levels(shot, bits), bits);
  if (cmd == "png" && argc == 5) {
    Image got;
    if (!ktest::DecodePng(file, &got)) {
      printf("png: %s does not decode\n", file.c_str());
      return 1;
    }
    return Report("png against the screen", kboard::Compare(got, want));
  }
  if (cmd == "ppm" && argc == 5) {
    Image got;
    if (!kboard::ReadPpm(file, &got)) {
      printf("ppm: %s does not decode\n", file.c_str());
      return 1;
    }
    return Report(
        "reference capture against the screen",
        kboard::Compare(kboard::Levels(got, bits), kboard::Levels(shot, bits)));
  }
  if (cmd == "jpeg" && argc == 6) {
    const int quality = atoi(argv[4]);
    const std::vector<uint8_t> got = ktest::ReadFile(file);
    if (got.empty()) {
      printf("jpeg: cannot read %s\n", file.c_str());
      return 1;
    }
    const std::vector<uint8_t> ref = ktest::EncodeJpegReference(want, quality);
    size_t at = 0;
    while (at < got.size() && at < ref.size() && got[at] == ref[at]) ++at;
    if (got.size() == ref.size() && at == got.size()) {
      printf("jpeg q%d: byte-identical (%zu bytes)\n", quality, got.size());
      return 0;
    }
    printf(
        "jpeg q%d: %zu bytes against libjpeg's %zu, first difference at byte "
        "%zu\n",
        quality, got.size(), ref.size(), at);
    return 1;
  }
  return Usage();
}
