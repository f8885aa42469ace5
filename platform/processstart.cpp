// The start of both programs.
#include "platform/processstart.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace mivex {

void settleProcessStart() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free descriptor is this one, the lower ones being open by now; dup2 only in
        // case the system says otherwise. Without /dev/null the descriptor stays closed.
        const int null = ::open("/dev/null", O_RDWR);
        if (null > fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace mivex
