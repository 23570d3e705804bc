// The plain part of a FUSE pass-through over a backing folder, shared by
// the rig's destinations that keep less than they are given
// (tests/rig/fakestick.c) and the benchmark's slow drives (throttlefs.c).
// Each program defines how it opens, reads and writes file data; everything
// else goes to the backing folder as it is. Built natively with gcc and libfuse3.
#pragma once
#define FUSE_USE_VERSION 31
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

static char backing[PATH_MAX];

static const char* Real(const char* path, char* out) {
  snprintf(out, PATH_MAX, "%s%s", backing, path);
  return out;
}

#define REAL(path) Real(path, (char[PATH_MAX]){0})
#define CHECK(call) return (call) == -1 ? -errno : 0

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

static int Release(const char* path, struct fuse_file_info* fi) {
  close(fi->fh);
  return 0;
}

static int Fsync(const char* path, int dataOnly, struct fuse_file_info* fi) {
  CHECK(dataOnly ? fdatasync(fi->fh) : fsync(fi->fh));
}

static int Fallocate(const char* path, int mode, off_t offset, off_t length, struct fuse_file_info* fi) {
  CHECK(fallocate(fi->fh, mode, offset, length));
}

static int Utimens(const char* path, const struct timespec times[2], struct fuse_file_info* fi) {
  if (fi) CHECK(futimens(fi->fh, times));
  CHECK(utimensat(AT_FDCWD, REAL(path), times, AT_SYMLINK_NOFOLLOW));
}

static int Mkdir(const char* path, mode_t mode) { CHECK(mkdir(REAL(path), mode)); }

static int Rmdir(const char* path) { CHECK(rmdir(REAL(path))); }

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

// Every handler of a pass-through: those above, and those each program
// defines (Getattr, Unlink, Rename, Truncate, Open, Read, Write, Statfs, Create).
#define PASSTHROUGH_OPERATIONS                                                                          \
  .getattr = Getattr, .readlink = Readlink, .mkdir = Mkdir, .unlink = Unlink, .rmdir = Rmdir,            \
  .symlink = Symlink, .rename = Rename, .chmod = Chmod, .chown = Chown, .truncate = Truncate,            \
  .open = Open, .read = Read, .write = Write, .statfs = Statfs, .release = Release, .fsync = Fsync,       \
  .setxattr = Setxattr, .getxattr = Getxattr, .listxattr = Listxattr, .removexattr = Removexattr,        \
  .readdir = Readdir, .access = Access, .create = Create, .utimens = Utimens, .fallocate = Fallocate

// The first argument that is no option is the backing folder; fuse takes the rest.
static int TakeBacking(void* data, const char* arg, int key, struct fuse_args* args) {
  if (key != FUSE_OPT_KEY_NONOPT || backing[0]) return 1;
  if (!realpath(arg, backing)) {
    perror(arg);
    exit(1);
  }
  return 0;
}

// "4M": k, M and G being powers of 1024; 0 when unreadable.
static double ParseSize(const char* text) {
  char* unit;
  double value = strtod(text, &unit);
  const char *units = "kmg", *at = *unit ? strchr(units, tolower((unsigned char)*unit)) : NULL;
  if (*unit && (!at || unit[1])) return 0;
  for (const char* u = units; at && u <= at; ++u) value *= 1024;
  return value;
}
