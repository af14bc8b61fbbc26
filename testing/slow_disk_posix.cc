// Test helper, preloaded into Norvale: a slow disk, as a USB stick can be.
// With NORVALE_SLOW=flush a flush takes a minute, whatever signals come
// meanwhile; with NORVALE_SLOW=write every write takes 2 ms, so that a run
// is still going when a test interrupts it.
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

namespace {

bool Slow(const char* what) {
  const char* slow = ::getenv("NORVALE_SLOW");
  return slow != nullptr && ::strcmp(slow, what) == 0;
}

void Wait(time_t seconds, long nanoseconds) {
  timespec left = {seconds, nanoseconds};
  while (::nanosleep(&left, &left) != 0) {
  }
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int syncfs(int fd) {
  if (Slow("flush")) Wait(60, 0);
  return Next<int (*)(int)>("syncfs")(fd);
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  if (Slow("write") && fd > 2) Wait(0, 2'000'000);
  return Next<ssize_t (*)(int, const void*, size_t)>("write")(fd, buffer,
                                                              count);
}
