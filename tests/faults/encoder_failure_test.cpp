// The encoders' own failures, each in a child process: memory that runs out
// inside libjpeg, libpng or zlib, storage that fills at many points of the
// file. Each must end in 0 with the promised file and status text, nothing
// printed, nothing held, and a whole capture at the next call.
#include <kestrel/kestrel.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <vector>

#include "child.h"
#include "encoder_alloc.h"
#include "module_fixture.h"
#include "status_allowed.h"
#include "writers/png_writer.h"

namespace {

const char kDiskFull[] = "Output file write error --- out of disk space?";

class EncoderFailure : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    ktest::Image expected;
    // Noisy enough that the PNG spans several IDAT chunks.
    ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[3], 160,
                                            120, 4, &expected));
  }

  // The file an unfaulted capture writes.
  std::vector<uint8_t> Reference(const std::string &name, int quality) {
    EXPECT_EQ(SnapShot(Path(name).c_str(), quality), 1);
    return ktest::ReadFile(dir_.File(name));
  }

  static bool IsPrefix(const std::vector<uint8_t> &part,
                       const std::vector<uint8_t> &whole) {
    return part.size() <= whole.size() &&
           std::equal(part.begin(), part.end(), whole.begin());
  }

  // Checks the parent can make of a child's run.
  static void ExpectCleanChild(const kfault::ChildOutcome &c,
                               const std::string &where) {
    EXPECT_TRUE(c.exited) << where << ": child ended by signal " << c.signal;
    EXPECT_EQ(c.failure, "") << where;
    EXPECT_EQ(c.printed, "") << where << ": printed";
  }
};

// What a faulted call in a child must leave. A result of 1 is right only
// with the whole file (libjpeg retries a small pool with less slack).
struct AfterCall {
  int result;
  int fds;
  bool pngReleased;
  bool fileExists;
  std::string status;
  std::vector<uint8_t> file;
};

AfterCall Observe(int result, const std::string &file) {
  return {result,
          ktest::CountOpenFds(),
          !g_pPng && !g_pPngInfo && !g_ppPngRows,
          ktest::FileExists(file),
          ktest::StatusText(),
          ktest::ReadFile(file)};
}

std::string CheckAfterFailure(const AfterCall &a, int quality,
                              const std::vector<uint8_t> &reference,
                              bool wantOom) {
  std::string bad;
  const int r = a.result;
  const std::string &status = a.status;
  const std::vector<uint8_t> &left = a.file;
  if (!a.pngReleased) bad += "PNG handles kept; ";
  if (quality < 1 && !status.empty()) bad += "PNG changed the status text; ";
  if (r == 1) {
    if (left != reference) bad += "1 with a wrong file; ";
    if (quality >= 1 && !status.empty())
      bad += "1 with status '" + status + "'; ";
    return bad;
  }
  if (r != 0) bad += "result " + std::to_string(r) + "; ";
  if (quality >= 1) {
    if (wantOom && !kfault::IsOutOfMemoryText(status))
      bad += "status '" + status + "'; ";
    if (!wantOom && status != kDiskFull) bad += "status '" + status + "'; ";
  }
  if (!a.fileExists) bad += "file removed; ";
  if (left.size() > reference.size() ||
      !std::equal(left.begin(), left.end(), reference.begin()))
    bad += "the file is not a prefix of the whole one; ";
  return bad;
}

TEST_F(EncoderFailure, EachAllocationInsideTheEncodersFails) {
  if (!kfault::EncoderAllocAvailable()) {
    // The skip's own message is not the library's: stop capturing first.
    capture_->Stop();
    fds_ = ktest::CountOpenFds();
    GTEST_SKIP() << "the allocator is a sanitizer's";
  }
  for (int quality : {0, 75}) {
    const std::string name = quality ? "m.jpg" : "m.png";
    const std::string file = dir_.File(name);
    const std::vector<uint8_t> reference = Reference(name, quality);
    kfault::ArmEncoderAllocFailure(0);
    ASSERT_EQ(SnapShot(Path(name).c_str(), quality), 1);
    kfault::DisarmEncoderAlloc();
    const unsigned total = kfault::EncoderAllocations();
    // libjpeg's pools, libpng's structures and zlib's deflate state.
    ASSERT_GE(total, quality ? 10u : 5u) << name;
    for (unsigned n = 1; n <= total; ++n) {
      const kfault::ChildOutcome c = kfault::RunInChild([&]() -> std::string {
        const int fds = ktest::CountOpenFds();
        const std::u16string path = Path(name);
        const long blocks = kfault::LiveBlocks();
        kfault::ArmEncoderAllocFailure(n);
        const int r = SnapShot(path.c_str(), quality);
        const int why = errno;
        kfault::DisarmEncoderAlloc();
        // The observation's own blocks are still alive at the last count.
        const long observing = kfault::LiveBlocks();
        const AfterCall after = Observe(r, file);
        const long observed = kfault::LiveBlocks() - observing;
        // The next call empties the status text again, so the block count
        // compares like with like; it is read before any text is built.
        const int next = SnapShot(path.c_str(), quality);
        const long leaked = kfault::LiveBlocks() - blocks - observed;
        std::string bad = CheckAfterFailure(after, quality, reference, true);
        if (r == 0 && why != ENOMEM)
          bad += "errno " + std::to_string(why) + "; ";
        if (after.fds != fds) bad += "descriptor left open; ";
        if (next != 1 || ktest::ReadFile(file) != reference)
          bad += "next call failed; ";
        if (leaked != 0) bad += std::to_string(leaked) + " blocks leaked; ";
        return bad;
      });
      ExpectCleanChild(c, name + " allocation " + std::to_string(n) + " of " +
                              std::to_string(total));
    }
  }
}

TEST_F(EncoderFailure, StorageThatFillsAnywhereInTheFile) {
  for (int quality : {0, 90}) {
    const std::string name = quality ? "s.jpg" : "s.png";
    const std::string file = dir_.File(name);
    const std::vector<uint8_t> reference = Reference(name, quality);
    const long size = long(reference.size());
    ASSERT_GT(size, 8192 * 2) << name;
    // Before, inside and after the headers, on and around the encoders'
    // buffer sizes, and just short of the end.
    std::vector<long> limits = {0,    1,    2,        20,       33,       34,
                                100,  4095, 4096,     4097,     8191,     8192,
                                8193, 8300, size / 2, size - 2, size - 1, size};
    for (long limit : limits) {
      const kfault::ChildOutcome c = kfault::RunInChild([&]() -> std::string {
        const int fds = ktest::CountOpenFds();
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit rl = old;
        rl.rlim_cur = rlim_t(limit);
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return "setrlimit failed";
        const int r = SnapShot(Path(name).c_str(), quality);
        const int why = errno;
        setrlimit(RLIMIT_FSIZE, &old);
        const AfterCall after = Observe(r, file);
        std::string bad;
        if (limit == size) {
          if (r != 1 || after.file != reference)
            bad += "a file that just fits failed; ";
        } else {
          bad = CheckAfterFailure(after, quality, reference, false);
          if (r == 1) bad += "1 although the file did not fit; ";
          if (why != EFBIG) bad += "errno " + std::to_string(why) + "; ";
          if (long(after.file.size()) != limit)
            bad += "kept " + std::to_string(after.file.size()) + " bytes; ";
        }
        if (after.fds != fds) bad += "descriptor left open; ";
        if (SnapShot(Path(name).c_str(), quality) != 1)
          bad += "next call failed; ";
        return bad;
      });
      ExpectCleanChild(c, name + " limited to " + std::to_string(limit) +
                              " of " + std::to_string(size));
    }
  }
}

TEST_F(EncoderFailure, FullDevice) {
  for (int quality : {0, 50}) {
    EXPECT_EQ(SnapShot(u"/dev/full", quality), 0);
    EXPECT_EQ(errno, ENOSPC);
    if (quality) {
      EXPECT_EQ(ktest::StatusText(), kDiskFull);
    }
    EXPECT_EQ(g_pPng, nullptr);
    EXPECT_EQ(ktest::CountOpenFds(), fds_);
  }
  EXPECT_EQ(SnapShot(Path("after.png").c_str(), 0), 1);
}

}  // namespace
