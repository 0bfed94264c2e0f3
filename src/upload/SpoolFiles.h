#pragma once
// Small helpers shared by the upload queue's source files.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrik {

inline constexpr const char* kAckName = "ack.log";

inline std::string SpoolSegmentName(std::uint64_t firstId) {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.seg", static_cast<unsigned long long>(firstId));
    return name;
}

inline void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

inline std::string ErrnoText(int error) {
    return std::strerror(error);
}

// An open file or folder that was removed from its folder meanwhile.
inline bool Unlinked(int fd) {
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 && st.st_nlink == 0;
}

} // namespace tavrik
