// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace stilwane {

// One ingest server of a platform, as OBS's own service list names it.
struct IngestServer {
	QString platform; // "YouTube", "TikTok", "Instagram" or "Kick"
	QString service;  // the service's name in the list, e.g. "YouTube - RTMPS"
	QString name;     // the server's name within the service
	QString url;
};

// The ingest servers that OBS's "rtmp-services" module lists for the platforms vertical streams go to.
// Read from the module's services.json at run time, so that a newer OBS brings its newer list along.
class IngestServers {
public:
	// The servers of every service whose name names one of the platforms, in the list's order: RTMP
	// and RTMPS URLs only (the vertical stream is an RTMP output), each URL once. Anything malformed
	// is passed over, a text that is no JSON object yields nothing.
	static QList<IngestServer> parse(const QByteArray &json);
	// The platform a service's name names ("YouTube - RTMPS" -> "YouTube"), or empty.
	static QString platformOf(const QString &serviceName);
	// Where OBS reads its list, in the order it tries them: the module's updated copy in its
	// configuration folder, then the one the module ships. Empty without the module.
	static QStringList servicesFiles();
	// parse() of the first of servicesFiles() that yields servers. Read at each call: the dialog that
	// asks is opened seldom, and the file may be updated in between.
	static QList<IngestServer> available();
};

} // namespace stilwane
