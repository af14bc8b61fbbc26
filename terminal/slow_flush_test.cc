// Test helper, preloaded into Norvale: a disk that takes a minute to flush,
// as a slow USB stick can, whatever signals come meanwhile.
#include <dlfcn.h>
#include <time.h>

extern "C" int syncfs(int fd) {
  timespec left = {60, 0};
  while (::nanosleep(&left, &left) != 0) {
  }
  using Syncfs = int (*)(int);
  return reinterpret_cast<Syncfs>(::dlsym(RTLD_NEXT, "syncfs"))(fd);
}
