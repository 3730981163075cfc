// File-system calls on the card's own directories ("/cpp/..." and
// "/var/log/external/..."). The daemon composes and prints card paths exactly
// as the card knows them; these calls place them where the platform keeps them.
// Each behaves as the C library call of the same name without the prefix.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>

extern "C" {
int fs_stat(const char* path, struct stat* st);
int fs_mkdir(const char* path, mode_t mode);
int fs_open(const char* path, int flags, mode_t mode);
int fs_unlink(const char* path);
// Creates a symbolic link at `linkpath` whose target is the card path `target`.
int fs_symlink(const char* target, const char* linkpath);
}
