#pragma once
// Whether the peer of a connected socket has closed it or the connection
// failed, seen by a zero-time look at the socket itself (poll on Linux,
// WSAPoll on Windows): no wait, nothing read.

#include <QtGlobal>

bool socketPeerClosed(qintptr fd);
