// A pass-through file system that writes no faster than a given rate, as a
// USB stick or a share does: the broadcast benchmark mounts one per
// destination, so that each destination has a speed of its own.
//
//   throttlefs BACKING MOUNTPOINT -o rate=20M [fuse options]
//
// Everything under MOUNTPOINT is BACKING's; reads go at twice the rate, as a
// stick reads about twice as fast as it writes, and queue with the writes on
// the one device. The rate is in bytes per second (k, M, G: powers of 1024).
// Built natively with gcc and libfuse3 by scripts/throttle.sh (the plain
// pass-through in passthrough.h); it is no part of the Windows build.
#define _GNU_SOURCE
#include "passthrough.h"
#include <pthread.h>
#include <stddef.h>
#include <time.h>

static double rate;  // bytes per second

// The bucket holds this much time's worth of bytes: a short burst passes at
// once, as a device's cache takes it, and the long run keeps to the rate.
static const double kBurstSeconds = 0.05;

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// A token bucket kept as the time its last byte leaves: each call pushes it
// on by the time its bytes take and sleeps for whatever lies past the burst.
// Callers on several threads queue up behind one another, as on one device.
static void Throttle(double seconds) {
  static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  static double drained;
  pthread_mutex_lock(&lock);
  double now = Now();
  if (drained < now) drained = now;
  drained += seconds;
  double wait = drained - now - kBurstSeconds;
  pthread_mutex_unlock(&lock);
  if (wait <= 0) return;
  struct timespec t = {(time_t)wait, (long)((wait - (time_t)wait) * 1e9)};
  while (nanosleep(&t, &t) == -1 && errno == EINTR) {
  }
}

static int Getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  if (fi) CHECK(fstat(fi->fh, st));
  CHECK(lstat(REAL(path), st));
}

static int Open(const char* path, struct fuse_file_info* fi) {
  int fd = open(REAL(path), fi->flags);
  if (fd == -1) return -errno;
  fi->fh = fd;
  return 0;
}

static int Create(const char* path, mode_t mode, struct fuse_file_info* fi) {
  int fd = open(REAL(path), fi->flags | O_CREAT, mode);
  if (fd == -1) return -errno;
  fi->fh = fd;
  return 0;
}

static int Read(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  Throttle(size / (2 * rate));
  ssize_t n = pread(fi->fh, buf, size, offset);
  return n == -1 ? -errno : (int)n;
}

static int Write(const char* path, const char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  Throttle(size / rate);
  ssize_t n = pwrite(fi->fh, buf, size, offset);
  return n == -1 ? -errno : (int)n;
}

static int Truncate(const char* path, off_t size, struct fuse_file_info* fi) {
  if (fi) CHECK(ftruncate(fi->fh, size));
  CHECK(truncate(REAL(path), size));
}

static int Rename(const char* from, const char* to, unsigned int flags) {
  CHECK(renameat2(AT_FDCWD, REAL(from), AT_FDCWD, REAL(to), flags));
}

static int Statfs(const char* path, struct statvfs* st) { CHECK(statvfs(backing, st)); }
static int Unlink(const char* path) { CHECK(unlink(REAL(path))); }

static const struct fuse_operations kOperations = {PASSTHROUGH_OPERATIONS};

static char* rateOption;
static const struct fuse_opt kOptions[] = {{"rate=%s", 0, 0}, FUSE_OPT_END};

int main(int argc, char* argv[]) {
  struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
  if (fuse_opt_parse(&args, &rateOption, kOptions, TakeBacking) == -1) return 1;
  rate = rateOption ? ParseSize(rateOption) : 0;
  if (!backing[0] || rate <= 0) {
    fprintf(stderr, "usage: %s BACKING MOUNTPOINT -o rate=BYTES[k|M|G] [fuse options]\n", argv[0]);
    return 2;
  }
  return fuse_main(args.argc, args.argv, &kOperations, NULL);
}
