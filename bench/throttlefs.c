// A pass-through file system that writes no faster than a given rate, as a
// USB stick or a share does: the broadcast benchmark mounts one per
// destination, so that each destination has a speed of its own.
//
//   throttlefs BACKING MOUNTPOINT -o rate=20M [fuse options]
//
// Everything under MOUNTPOINT is BACKING's; reads go at twice the rate, as a
// stick reads about twice as fast as it writes, and queue with the writes on
// the one device. The rate is in bytes per second (k, M, G: powers of 1024). Built natively with gcc
// and libfuse3 by scripts/throttle.sh; it is no part of the Windows build.
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

static char backing[PATH_MAX];
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

static const char* Real(const char* path, char* out) {
  snprintf(out, PATH_MAX, "%s%s", backing, path);
  return out;
}

#define REAL(path) Real(path, (char[PATH_MAX]){0})
#define CHECK(call) return (call) == -1 ? -errno : 0

static int Getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  if (fi) CHECK(fstat(fi->fh, st));
  CHECK(lstat(REAL(path), st));
}

static int Readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info* fi,
                   enum fuse_readdir_flags flags) {
  DIR* dir = opendir(REAL(path));
  if (!dir) return -errno;
  for (struct dirent* e; (e = readdir(dir));) {
    struct stat st = {.st_ino = e->d_ino, .st_mode = (mode_t)DTTOIF(e->d_type)};
    if (fill(buf, e->d_name, &st, 0, 0)) break;
  }
  closedir(dir);
  return 0;
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

static int Release(const char* path, struct fuse_file_info* fi) {
  close(fi->fh);
  return 0;
}

static int Fsync(const char* path, int dataOnly, struct fuse_file_info* fi) {
  CHECK(dataOnly ? fdatasync(fi->fh) : fsync(fi->fh));
}

static int Truncate(const char* path, off_t size, struct fuse_file_info* fi) {
  if (fi) CHECK(ftruncate(fi->fh, size));
  CHECK(truncate(REAL(path), size));
}

static int Fallocate(const char* path, int mode, off_t offset, off_t length, struct fuse_file_info* fi) {
  CHECK(fallocate(fi->fh, mode, offset, length));
}

static int Utimens(const char* path, const struct timespec times[2], struct fuse_file_info* fi) {
  if (fi) CHECK(futimens(fi->fh, times));
  CHECK(utimensat(AT_FDCWD, REAL(path), times, AT_SYMLINK_NOFOLLOW));
}

static int Rename(const char* from, const char* to, unsigned int flags) {
  CHECK(renameat2(AT_FDCWD, REAL(from), AT_FDCWD, REAL(to), flags));
}

static int Statfs(const char* path, struct statvfs* st) { CHECK(statvfs(backing, st)); }
static int Mkdir(const char* path, mode_t mode) { CHECK(mkdir(REAL(path), mode)); }
static int Rmdir(const char* path) { CHECK(rmdir(REAL(path))); }
static int Unlink(const char* path) { CHECK(unlink(REAL(path))); }
static int Access(const char* path, int mask) { CHECK(access(REAL(path), mask)); }
static int Symlink(const char* target, const char* path) { CHECK(symlink(target, REAL(path))); }
static int Chmod(const char* path, mode_t mode, struct fuse_file_info* fi) { CHECK(chmod(REAL(path), mode)); }
static int Chown(const char* path, uid_t uid, gid_t gid, struct fuse_file_info* fi) {
  CHECK(lchown(REAL(path), uid, gid));
}

static int Readlink(const char* path, char* buf, size_t size) {
  ssize_t n = readlink(REAL(path), buf, size - 1);
  if (n == -1) return -errno;
  buf[n] = '\0';
  return 0;
}

// Wine keeps a file's DOS attributes (hidden, system, read-only) in an
// extended attribute.
static int Setxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
  CHECK(lsetxattr(REAL(path), name, value, size, flags));
}
static int Getxattr(const char* path, const char* name, char* value, size_t size) {
  ssize_t n = lgetxattr(REAL(path), name, value, size);
  return n == -1 ? -errno : (int)n;
}
static int Listxattr(const char* path, char* list, size_t size) {
  ssize_t n = llistxattr(REAL(path), list, size);
  return n == -1 ? -errno : (int)n;
}
static int Removexattr(const char* path, const char* name) { CHECK(lremovexattr(REAL(path), name)); }

static const struct fuse_operations kOperations = {
    .getattr = Getattr,   .readlink = Readlink,   .mkdir = Mkdir,         .unlink = Unlink,
    .rmdir = Rmdir,       .symlink = Symlink,     .rename = Rename,       .chmod = Chmod,
    .chown = Chown,       .truncate = Truncate,   .open = Open,           .read = Read,
    .write = Write,       .statfs = Statfs,       .release = Release,     .fsync = Fsync,
    .setxattr = Setxattr, .getxattr = Getxattr,   .listxattr = Listxattr, .removexattr = Removexattr,
    .readdir = Readdir,   .access = Access,       .create = Create,       .utimens = Utimens,
    .fallocate = Fallocate,
};

// "20M": bytes per second, k, M and G being powers of 1024; 0 when unreadable.
static double ParseRate(const char* text) {
  char* unit;
  double value = strtod(text, &unit);
  const char *units = "kmg", *at = *unit ? strchr(units, tolower((unsigned char)*unit)) : NULL;
  if (*unit && (!at || unit[1])) return 0;
  for (const char* u = units; at && u <= at; ++u) value *= 1024;
  return value;
}

static char* rateOption;
static const struct fuse_opt kOptions[] = {{"rate=%s", 0, 0}, FUSE_OPT_END};

// The first argument that is no option is the backing folder; fuse takes the rest.
static int TakeBacking(void* data, const char* arg, int key, struct fuse_args* args) {
  if (key != FUSE_OPT_KEY_NONOPT || backing[0]) return 1;
  if (!realpath(arg, backing)) {
    perror(arg);
    exit(1);
  }
  return 0;
}

int main(int argc, char* argv[]) {
  struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
  if (fuse_opt_parse(&args, &rateOption, kOptions, TakeBacking) == -1) return 1;
  rate = rateOption ? ParseRate(rateOption) : 0;
  if (!backing[0] || rate <= 0) {
    fprintf(stderr, "usage: %s BACKING MOUNTPOINT -o rate=BYTES[k|M|G] [fuse options]\n", argv[0]);
    return 2;
  }
  return fuse_main(args.argc, args.argv, &kOperations, NULL);
}
