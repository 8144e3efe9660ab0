// SPDX-License-Identifier: GPL-2.0-or-later
#include <common/Destinations.hpp>

#include <common/Limits.hpp>

#include <QUrl>

namespace stilwane {

namespace {

// Host suffixes of the platforms' ingest servers. Instagram ingests through Facebook's CDN hosts and
// Kick through Amazon IVS's contribution hosts.
struct Platform {
	const char *hostSuffix;
	const char *name;
};
constexpr Platform kPlatforms[] = {
	{"youtube.com", "YouTube"},   {"tiktokcdn.com", "TikTok"}, {"tiktokcdn-us.com", "TikTok"},
	{"tiktok.com", "TikTok"},     {"fbcdn.net", "Instagram"},  {"instagram.com", "Instagram"},
	{"live-video.net", "Kick"},   {"kick.com", "Kick"},        {"twitch.tv", "Twitch"},
	{"facebook.com", "Facebook"},
};

QString hostOf(const QString &server)
{
	return QUrl(server.trimmed()).host().toLower();
}

bool hostEndsWith(const QString &host, const char *suffix)
{
	const QString s = QString::fromLatin1(suffix);
	return host == s || host.endsWith(QLatin1Char('.') + s);
}

QString trimmed(const std::string &text)
{
	return QString::fromStdString(text).trimmed();
}

} // namespace

QString destinationNameForServer(const QString &server)
{
	const QString host = hostOf(server);
	for (const Platform &platform : kPlatforms) {
		if (hostEndsWith(host, platform.hostSuffix))
			return QString::fromLatin1(platform.name);
	}
	return host.isEmpty() ? QStringLiteral("Custom") : host;
}

bool isYouTubeServer(const QString &server)
{
	return hostEndsWith(hostOf(server), "youtube.com");
}

QString firstDestinationName(const ConfigRecord &c)
{
	return destinationNameForServer(trimmed(c.server));
}

QList<Destination> destinationList(const ConfigRecord &c)
{
	QList<Destination> list;
	Destination first;
	first.name = firstDestinationName(c);
	first.server = trimmed(c.server);
	first.key = trimmed(c.key);
	first.enabled = !first.key.isEmpty();
	first.first = true;
	list.append(first);
	for (const DestinationRecord &record : c.destinations) {
		Destination d;
		d.name = trimmed(record.name);
		d.server = trimmed(record.server);
		d.key = trimmed(record.key);
		d.enabled = record.enabled;
		list.append(d);
	}
	return list;
}

int findDestination(const ConfigRecord &c, const QString &name)
{
	const QList<Destination> list = destinationList(c);
	for (int i = 0; i < list.size(); i++) {
		if (list[i].name == name)
			return i;
	}
	return -1;
}

bool destinationNameTaken(const ConfigRecord &c, const QString &name, int except)
{
	const QList<Destination> list = destinationList(c);
	for (int i = 0; i < list.size(); i++) {
		if (i != except && list[i].name.compare(name, Qt::CaseInsensitive) == 0)
			return true;
	}
	return false;
}

QString uniqueDestinationName(const ConfigRecord &c, const QString &base, int except)
{
	QString name = base;
	for (int n = 2; destinationNameTaken(c, name, except); n++)
		name = QStringLiteral("%1 %2").arg(base).arg(n);
	return name;
}

std::vector<std::string> correctDestinations(ConfigRecord &c)
{
	std::vector<std::string> changes;
	auto &list = c.destinations;
	const size_t extras = size_t(kMaxDestinations - 1);
	if (list.size() > extras) {
		changes.push_back("destinations beyond the first " + std::to_string(kMaxDestinations) +
				  " left out: " + std::to_string(list.size() - extras));
		list.resize(extras);
	}
	for (size_t i = 0; i < list.size(); i++) {
		DestinationRecord &d = list[i];
		d.server = trimmed(d.server).toStdString();
		d.key = trimmed(d.key).toStdString();
		const QString name = trimmed(d.name);
		// Only those before it count: the first to hold a name keeps it.
		ConfigRecord before = c;
		before.destinations.resize(i);
		const QString base = name.isEmpty() ? QStringLiteral("Destination") : name;
		const QString unique = uniqueDestinationName(before, base);
		if (!name.isEmpty() && unique != name)
			changes.push_back("destination '" + name.toStdString() + "' renamed to '" +
					  unique.toStdString() + "': another destination has that name");
		d.name = unique.toStdString();
		if (d.server.empty() && d.enabled) {
			d.enabled = false;
			changes.push_back("destination '" + d.name + "' disabled: it has no server");
		}
	}
	return changes;
}

} // namespace stilwane
