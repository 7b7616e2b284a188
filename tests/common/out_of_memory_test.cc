// The readers under a limit on address space: a room hint that cannot be
// had is passed over, and a list that outgrows the memory keeps what it read.
// Each case runs in a child process with the limit set.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "models/model_table.h"
#include "registry/device_list.h"
#include "support/test_dir.h"

namespace kxsane {
namespace {

using kxsane::testing::TestDir;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Runs `check` in a child whose address space may grow by `headroom` bytes
// at most; true when it returned true.
bool holds_under_limit(std::size_t headroom, const std::function<bool()>& check) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld", &pages) != 1)
        pages = 0;
      std::fclose(statm);
    }
    const auto used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
    const rlimit limit{used + headroom, used + headroom};
    if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0)
      _exit(2);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

constexpr std::size_t kHeadroom = std::size_t{48} << 20;

// A file of `size` bytes that is a hole up to `text` at its end, so that
// its size asks for far more room than the limit leaves. The hole reads as
// NUL bytes, which end every piece before `text`.
std::string sparse_file(const TestDir& dir, const std::string& text, off_t size) {
  std::string path = dir.file("big");
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(size - static_cast<off_t>(text.size()) - 1);
    out << '\n' << text;
  }
  return path;
}

class OutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kAddressSanitizer)
      GTEST_SKIP() << "the address sanitizer's own mappings need more than the limit leaves";
  }
  TestDir dir;
};

TEST_F(OutOfMemory, DeviceListPassesOverARoomHintItCannotHave) {
  const std::string path =
      sparse_file(dir, "DEVICE=a , \"M\" , U , NODENAME=n \nDEVICE=b , \"M\" , U , NODENAME=m \n",
                  off_t{96} << 20);
  EXPECT_TRUE(holds_under_limit(kHeadroom, [&] {
    DeviceList devices(path);
    return devices.load().ok() && devices.device_count() == 2;
  }));
}

TEST_F(OutOfMemory, ModelTablePassesOverARoomHintItCannotHave) {
  const std::string path = sparse_file(
      dir, "[Support Model]\n0x1, 101, 0, \"A\"\n0x2, 102, 0, \"B\"\n", off_t{32} << 20);
  EXPECT_TRUE(holds_under_limit(kHeadroom, [&] {
    ModelTable models(dir.file("no-models4"), path);
    return models.read_model_file(path) == 2 && models.size() == 2;
  }));
}

// An endless stream of lines that each make a record of either reader:
// "[Support Model]" once, then "x=y" lines.
std::FILE* endless_records() {
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    static constexpr char kHeader[] = "[Support Model]\n";
    auto* started = static_cast<bool*>(cookie);
    if (!*started && size >= sizeof kHeader) {
      *started = true;
      std::memcpy(buffer, kHeader, sizeof kHeader - 1);
      return sizeof kHeader - 1;
    }
    static constexpr char kLine[] = "x=y\n";
    for (std::size_t i = 0; i < size; ++i) buffer[i] = kLine[i % 4];
    return static_cast<ssize_t>(size - size % 4);
  };
  static bool started;
  started = false;
  return fopencookie(&started, "r", io);
}

TEST_F(OutOfMemory, DeviceListThatOutgrowsMemoryStopsSaysWhyAndKeepsItsRecords) {
  EXPECT_TRUE(holds_under_limit(kHeadroom, [&] {
    DeviceList devices(dir.file("unused.cfg"));
    std::FILE* stream = endless_records();
    const Result<int> read = devices.read_device_stream(stream);
    std::fclose(stream);
    char name[kDeviceFieldSize];
    return read.status().message().starts_with("out of memory") &&
           devices.device_count() > 100000 &&
           devices.device_field_by_index(100000, kFriendlyName, name, sizeof name) == nullptr;
  }));
}

TEST_F(OutOfMemory, ModelTableThatOutgrowsMemoryStopsAndSaysWhy) {
  EXPECT_TRUE(holds_under_limit(kHeadroom, [&] {
    ModelTable models(dir.file("no-models4"), dir.file("unused.ini"));
    std::FILE* stream = endless_records();
    const Result<int> read = models.read_model_stream(stream, "endless");
    std::fclose(stream);
    return models.size() > 10000 && read.status().message() == "out of memory reading endless";
  }));
}

}  // namespace
}  // namespace kxsane
