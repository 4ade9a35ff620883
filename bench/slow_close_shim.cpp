// A preloaded library for the benchmarks: closing a file that was open for writing waits
// TOLVEX_CLOSE_WAIT_US microseconds first (200 by default), as on a file system or under
// an on-access scanner that makes each new file wait when it is closed. Every program run
// with it pays the same wait per file: tolvex, tar, cp.
//
//   LD_PRELOAD=build/bench/libtolvex_slow_close.so TOLVEX_CLOSE_WAIT_US=2000 tar -xf a.tar

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

namespace {

using CloseCall = int (*)(int);

long waitMicroseconds() {
  static const long wait = [] {
    const char* text = getenv("TOLVEX_CLOSE_WAIT_US");
    return text ? atol(text) : 200L;
  }();
  return wait;
}

}  // namespace

extern "C" int close(int descriptor) {
  static const CloseCall realClose = reinterpret_cast<CloseCall>(dlsym(RTLD_NEXT, "close"));
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && waitMicroseconds() > 0) {
    struct timespec wait = {waitMicroseconds() / 1000000, waitMicroseconds() % 1000000 * 1000};
    while (nanosleep(&wait, &wait) != 0) {
    }
  }
  return realClose(descriptor);
}
