#include "platform/UniqueFd.h"

#include <unistd.h>

namespace spatialmux::platform {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

int UniqueFd::Release() {
    const int released = fd;
    fd = -1;
    return released;
}

void UniqueFd::Reset(int newFd) {
    if (fd >= 0) close(fd);
    fd = newFd;
}

}  // namespace spatialmux::platform
