#include "app/core/Cancellation.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace zorvane {

Cancellation::Cancellation()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    readEnd_ = fds[0];
    writeEnd_ = fds[1];
}

Cancellation::~Cancellation()
{
    ::close(readEnd_);
    ::close(writeEnd_);
}

void Cancellation::cancel()
{
    if (cancelled_.exchange(true)) return;
    // One byte, never read: the read end stays readable for every waiter from now on.
    const char byte = 1;
    while (::write(writeEnd_, &byte, 1) < 0 && errno == EINTR) {
    }
}

} // namespace zorvane
