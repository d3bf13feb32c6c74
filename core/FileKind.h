// Jobs are read from and written to regular files only: a FIFO, a device or
// a folder in a job file's place would hang the program in open() or print
// what is no job. This says why a file is refused.
#pragma once

#include <string_view>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/stat.h>
#endif

namespace marlix {

#if defined(__unix__) || defined(__APPLE__)
inline std::string_view notARegularFile(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a folder, not a regular file";
    if (S_ISFIFO(mode)) return "it is a FIFO, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
    if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
    return "it is not a regular file";
}
#endif

} // namespace marlix
