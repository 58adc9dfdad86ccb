// Every system call the Linux stand-ins make that can fail on a real machine
// goes through this table, so a test can make one fail on purpose (a full
// disk at the Nth write, a failed read or close, no memory from the Nth
// allocation on) by swapping an entry, as SQLite's os_unix.c does. The
// program itself never changes it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "Win32.h"

struct UnixSyscalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  int (*close)(int fd);
  int (*fsync)(int fd);
  int (*ftruncate)(int fd, off_t length);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
  void* (*malloc)(size_t size);
  int (*stat)(const char* path, struct stat* status);
};

extern UnixSyscalls unixSyscalls;

// A whole file's text through the table, and the identity of what was read
// (`identity` is its stat beforehand). A FIFO, a device or a folder is never
// read: it is not opened, or (swapped in after the stat) opened without
// waiting and refused with ERROR_BADDB. ERROR_FILE_NOT_FOUND or
// ERROR_CANTREAD for a file that cannot be read.
LONG ReadWhole(const std::string& path, struct stat& identity, std::string& text);
