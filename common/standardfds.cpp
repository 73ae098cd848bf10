#include "standardfds.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

void ReopenClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free descriptor is fd itself, as every lower one is open by now.
            const int opened = open("/dev/null", O_RDWR);
            if (opened != fd && opened >= 0) {
                close(opened);
            }
        }
    }
}
