#include "transport/SocketState.h"

#ifdef _WIN32
#include <winsock2.h>

bool socketPeerClosed(qintptr fd) {
    WSAPOLLFD p{};
    p.fd = SOCKET(fd);
    p.events = POLLRDNORM;
    return ::WSAPoll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
#else
#include <poll.h>

bool socketPeerClosed(qintptr fd) {
    pollfd p{int(fd), POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}
#endif
