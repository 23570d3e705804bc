// A destination that does not keep what it is given, for the tests of
// verified copies: a pass-through over a backing folder, mounted direct_io so
// that every read reaches this program and no page cache answers in its place.
//
//   fakestick BACKING MOUNTPOINT -o real=4M,size=64M [fuse options]
//     A stick that claims more than it holds: statfs reports SIZE, but file
//     contents live in one store of REAL bytes, handed out in 64 KiB blocks in
//     the order blocks are first written. Once all are handed out, each new
//     block goes over the oldest, so an earlier file reads back a later file's
//     bytes. Every write succeeds. Names, sizes, times and attributes are the
//     backing folder's as usual; its files are sparse and hold no data.
//   fakestick BACKING MOUNTPOINT -o flip=3 [fuse options]
//     Faithful, but every third write call (counted over the whole mount)
//     reaches the destination with its first byte inverted. The two combine.
//
// Sizes take k, M, G (powers of 1024). Built natively with gcc and libfuse3
// by scripts/rig.sh; it is no part of the Windows build.
#define _GNU_SOURCE
#include "../../bench/passthrough.h"
#include <pthread.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdint.h>

static unsigned long flipEvery;  // 0: no write is flipped
static atomic_ulong writes;

enum { kBlock = 64 * 1024 };
static char* store;  // the stick's real bytes; NULL when this is no stick
static uint64_t storeBlocks, reported;
static uint64_t placed;  // blocks ever handed out: the next goes to placed % storeBlocks
static uint64_t live;    // blocks the existing files hold, for the free space statfs claims
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

// Where each file's blocks went, by the backing file's inode (a rename keeps
// it). slot[i] is block i's place in the store plus one; 0: never written.
struct File {
  ino_t ino;
  uint64_t count;
  uint32_t* slot;
  struct File* next;
};
static struct File* files[1024];

static struct File* Find(ino_t ino, int make) {
  struct File** at = &files[ino % 1024];
  while (*at && (*at)->ino != ino) at = &(*at)->next;
  if (!*at && make) {
    *at = calloc(1, sizeof(struct File));
    (*at)->ino = ino;
  }
  return *at;
}

// Drops a file's blocks from `from` on: its data past a truncation, or all of
// it when it is gone (so that a new file given the same inode starts empty).
static void Forget(ino_t ino, uint64_t from) {
  pthread_mutex_lock(&lock);
  struct File* f = Find(ino, 0);
  for (uint64_t i = from; f && i < f->count; ++i) live -= f->slot[i] != 0, f->slot[i] = 0;
  if (f && from < f->count) f->count = from;
  pthread_mutex_unlock(&lock);
}

// The block's place in the store, handed out on its first write. A fresh
// block is cleared, so that what a file never wrote reads as zeros.
static char* Place(struct File* f, uint64_t block) {
  if (block >= f->count) {
    f->slot = realloc(f->slot, (block + 1) * sizeof *f->slot);
    memset(f->slot + f->count, 0, (block + 1 - f->count) * sizeof *f->slot);
    f->count = block + 1;
  }
  if (!f->slot[block]) {
    f->slot[block] = placed++ % storeBlocks + 1;
    ++live;
    memset(store + (uint64_t)(f->slot[block] - 1) * kBlock, 0, kBlock);
  }
  return store + (uint64_t)(f->slot[block] - 1) * kBlock;
}

// The stick's reads come from the store, whoever wrote there last.
static int StickRead(int fd, char* buf, size_t size, off_t offset) {
  struct stat st;
  if (fstat(fd, &st) == -1) return -errno;
  if (offset >= st.st_size) return 0;
  if ((off_t)size > st.st_size - offset) size = st.st_size - offset;
  pthread_mutex_lock(&lock);
  struct File* f = Find(st.st_ino, 0);
  for (size_t done = 0, n; done < size; done += n) {
    uint64_t block = (offset + done) / kBlock, within = (offset + done) % kBlock;
    n = kBlock - within < size - done ? kBlock - within : size - done;
    if (f && block < f->count && f->slot[block])
      memcpy(buf + done, store + (uint64_t)(f->slot[block] - 1) * kBlock + within, n);
    else
      memset(buf + done, 0, n);
  }
  pthread_mutex_unlock(&lock);
  return size;
}

// Into the store, and the backing file grown (sparse) to the new size.
static int StickWrite(int fd, const char* buf, size_t size, off_t offset) {
  struct stat st;
  if (fstat(fd, &st) == -1) return -errno;
  pthread_mutex_lock(&lock);
  struct File* f = Find(st.st_ino, 1);
  for (size_t done = 0, n; done < size; done += n) {
    uint64_t block = (offset + done) / kBlock, within = (offset + done) % kBlock;
    n = kBlock - within < size - done ? kBlock - within : size - done;
    memcpy(Place(f, block) + within, buf + done, n);
  }
  int result = offset + (off_t)size > st.st_size
                   ? ftruncate(fd, offset + size)
                   : futimens(fd, (struct timespec[2]){{.tv_nsec = UTIME_OMIT}, {.tv_nsec = UTIME_NOW}});
  pthread_mutex_unlock(&lock);
  return result == -1 ? -errno : (int)size;
}

// A shrinking file loses its blocks past the end, and the tail of its last
// block is cleared: grown again, it reads zeros there, not its old bytes.
static void StickCut(ino_t ino, off_t oldSize, off_t size) {
  if (!store || size >= oldSize) return;
  Forget(ino, (size + kBlock - 1) / kBlock);
  pthread_mutex_lock(&lock);
  struct File* f = Find(ino, 0);
  uint64_t block = size / kBlock;
  if (f && size % kBlock && block < f->count && f->slot[block])
    memset(store + (uint64_t)(f->slot[block] - 1) * kBlock + size % kBlock, 0, kBlock - size % kBlock);
  pthread_mutex_unlock(&lock);
}

static void* Init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
  cfg->direct_io = 1;  // what a read returns is what is stored, never a cached copy
  return NULL;
}

static int Getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  if ((fi ? fstat(fi->fh, st) : lstat(REAL(path), st)) == -1) return -errno;
  if (store && S_ISREG(st->st_mode)) st->st_blocks = (st->st_size + 511) / 512;  // the sparse file looks stored
  return 0;
}

// The backing file is opened without O_DIRECT: the mount is already past the
// page cache, and the backing folder's own cache holds what is stored; O_DIRECT
// there would only bring its alignment rules.
static int OpenAs(const char* path, int flags, mode_t mode, struct fuse_file_info* fi) {
  int fd = open(REAL(path), flags & ~O_DIRECT, mode);
  if (fd == -1) return -errno;
  fi->fh = fd;
  struct stat st;
  if (store && (flags & O_TRUNC) && fstat(fd, &st) == 0) Forget(st.st_ino, 0);
  return 0;
}

static int Open(const char* path, struct fuse_file_info* fi) { return OpenAs(path, fi->flags, 0, fi); }
static int Create(const char* path, mode_t mode, struct fuse_file_info* fi) {
  return OpenAs(path, fi->flags | O_CREAT, mode, fi);
}

static int Read(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  if (store) return StickRead(fi->fh, buf, size, offset);
  ssize_t n = pread(fi->fh, buf, size, offset);
  return n == -1 ? -errno : (int)n;
}

static int Write(const char* path, const char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  char* flipped = NULL;
  if (flipEvery && size && atomic_fetch_add(&writes, 1) % flipEvery == flipEvery - 1) {
    flipped = memcpy(malloc(size), buf, size);
    flipped[0] ^= 0xFF;
    buf = flipped;
  }
  int result;
  if (store) {
    result = StickWrite(fi->fh, buf, size, offset);
  } else {
    ssize_t n = pwrite(fi->fh, buf, size, offset);
    result = n == -1 ? -errno : (int)n;
  }
  free(flipped);
  return result;
}

static int Truncate(const char* path, off_t size, struct fuse_file_info* fi) {
  struct stat st;
  if ((fi ? fstat(fi->fh, &st) : lstat(REAL(path), &st)) == -1) return -errno;
  if ((fi ? ftruncate(fi->fh, size) : truncate(REAL(path), size)) == -1) return -errno;
  StickCut(st.st_ino, st.st_size, size);
  return 0;
}

// The inode of a file whose last name `path` is, or 0: its blocks go with it.
static ino_t Doomed(const char* path) {
  struct stat st;
  return store && lstat(REAL(path), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 ? st.st_ino : 0;
}

static int Unlink(const char* path) {
  ino_t gone = Doomed(path);
  if (unlink(REAL(path)) == -1) return -errno;
  if (gone) Forget(gone, 0);
  return 0;
}

static int Rename(const char* from, const char* to, unsigned int flags) {
  struct stat source;
  ino_t gone = flags & RENAME_EXCHANGE ? 0 : Doomed(to);
  if (gone && lstat(REAL(from), &source) == 0 && source.st_ino == gone) gone = 0;  // the same file by two names
  if (renameat2(AT_FDCWD, REAL(from), AT_FDCWD, REAL(to), flags) == -1) return -errno;
  if (gone) Forget(gone, 0);
  return 0;
}

// The stick claims its reported size, less what its files hold.
static int Statfs(const char* path, struct statvfs* st) {
  if (statvfs(backing, st) == -1) return -errno;
  if (!store) return 0;
  pthread_mutex_lock(&lock);
  st->f_bsize = st->f_frsize = kBlock;
  st->f_blocks = reported / kBlock;
  st->f_bfree = st->f_bavail = live < st->f_blocks ? st->f_blocks - live : 0;
  pthread_mutex_unlock(&lock);
  return 0;
}

static const struct fuse_operations kOperations = {.init = Init, PASSTHROUGH_OPERATIONS};

static struct { char *real, *size, *flip; } options;
static const struct fuse_opt kOptions[] = {{"real=%s", offsetof(typeof(options), real), 0},
                                           {"size=%s", offsetof(typeof(options), size), 0},
                                           {"flip=%s", offsetof(typeof(options), flip), 0},
                                           FUSE_OPT_END};

int main(int argc, char* argv[]) {
  struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
  if (fuse_opt_parse(&args, &options, kOptions, TakeBacking) == -1) return 1;
  double real = options.real ? ParseSize(options.real) : 0, size = options.size ? ParseSize(options.size) : 0;
  flipEvery = options.flip ? (unsigned long)ParseSize(options.flip) : 0;
  storeBlocks = (uint64_t)real / kBlock;
  reported = (uint64_t)size;
  int stick = options.real || options.size;
  int valid = backing[0] && (stick || options.flip) && (!options.flip || flipEvery) &&
              (!stick || (storeBlocks && (uint64_t)real % kBlock == 0 && size > real));
  if (!valid) {
    fprintf(stderr,
            "usage: %s BACKING MOUNTPOINT -o real=BYTES,size=BYTES (64 KiB blocks, size > real) and/or -o flip=N"
            " [fuse options]\n",
            argv[0]);
    return 2;
  }
  if (stick && !(store = malloc(storeBlocks * kBlock))) return perror("store"), 1;
  return fuse_main(args.argc, args.argv, &kOperations, NULL);
}
