// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <common/ConfigRecord.hpp>

#include <QList>
#include <QString>

#include <string>
#include <vector>

namespace stilwane {

// One place the vertical stream goes to. The first is config.json's "server" and "key", named after
// the platform of its server and enabled whenever it has a key; the others are "destinations".
struct Destination {
	QString name;
	QString server;
	QString key;
	bool enabled = false;
	bool first = false;
};

// The platform a server URL belongs to ("YouTube", "TikTok", "Instagram", "Kick", "Twitch",
// "Facebook"), else the URL's host, else "Custom".
QString destinationNameForServer(const QString &server);
// A YouTube ingest server: such a destination streams through OBS's YouTube service, any other through
// a custom server.
bool isYouTubeServer(const QString &server);
QString firstDestinationName(const ConfigRecord &c);

// All destinations in order, the first at index 0, with their keys and servers trimmed.
QList<Destination> destinationList(const ConfigRecord &c);
// The index in destinationList() of the destination with exactly this name, or -1.
int findDestination(const ConfigRecord &c, const QString &name);
// Whether a destination other than the one at index `except` of destinationList() has this name,
// compared without case.
bool destinationNameTaken(const ConfigRecord &c, const QString &name, int except = -1);
// base, or base followed by " 2", " 3", ... until no destination has it.
QString uniqueDestinationName(const ConfigRecord &c, const QString &base, int except = -1);

// Puts the list of extra destinations right: fields trimmed, a missing name given, a name that another
// destination (the first included) already has made unique, a destination without a server disabled,
// and no more than kMaxDestinations in all. Returns what it changed, in English, for the log; no key
// ever appears in it. After loading and after every change of the first server or of the list.
std::vector<std::string> correctDestinations(ConfigRecord &c);

} // namespace stilwane
