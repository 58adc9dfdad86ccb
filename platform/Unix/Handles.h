// The Linux build's table of kernel32 handles. Files register their
// descriptors here, and so may other kinds of object that live on a
// descriptor (a mutex on its lock file): CloseHandle closes any of them.
#pragma once

#include "Win32Api.h"

HANDLE RegisterHandle(int fd, bool reads, bool writes);
// The descriptor behind an open handle; -1 and ERROR_INVALID_HANDLE for any
// other value.
int DescriptorOf(HANDLE handle);
// Whether a lock file may be trusted: a regular file of the effective user
// or root, made private (0600) when it is the user's own.
bool IsOwnLockFile(int fd);
