// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback TCP socket on a free port, for streams that must never reach a real server. Listening, it
// takes the connection and never answers the RTMP handshake: the stream stays Connecting until the
// socket is closed, which resets the waiting connections. Only bound, the kernel refuses a connection
// at once. Returns the socket (the caller closes it); url gets "rtmp://127.0.0.1:<port>/<app>".
inline int loopbackRtmpSocket(bool listening, std::string *url, const char *app = "live")
{
	const int fd = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t len = sizeof(addr);
	bind(fd, reinterpret_cast<sockaddr *>(&addr), len);
	if (listening)
		listen(fd, 4);
	getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
	*url = QStringLiteral("rtmp://127.0.0.1:%1/%2").arg(ntohs(addr.sin_port)).arg(QLatin1String(app)).toStdString();
	return fd;
}
