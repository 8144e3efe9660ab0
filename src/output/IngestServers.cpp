// SPDX-License-Identifier: GPL-2.0-or-later
#include <output/IngestServers.hpp>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <obs.h>

namespace stilwane {

namespace {

constexpr const char *kPlatforms[] = {"YouTube", "TikTok", "Instagram", "Kick"};

QString takePath(char *path)
{
	QString result = path ? QString::fromUtf8(path) : QString();
	bfree(path);
	return result;
}

bool isRtmpUrl(const QString &url)
{
	const QUrl parsed(url);
	const QString scheme = parsed.scheme().toLower();
	return parsed.isValid() && !parsed.host().isEmpty() && (scheme == "rtmp" || scheme == "rtmps");
}

} // namespace

QString IngestServers::platformOf(const QString &serviceName)
{
	// Whole words only: a service whose name merely contains "kick" is another service.
	for (const char *platform : kPlatforms) {
		const QRegularExpression word(QStringLiteral("\\b%1\\b").arg(QLatin1String(platform)),
					      QRegularExpression::CaseInsensitiveOption);
		if (word.match(serviceName).hasMatch())
			return QString::fromLatin1(platform);
	}
	return QString();
}

QList<IngestServer> IngestServers::parse(const QByteArray &json)
{
	QList<IngestServer> result;
	const QJsonDocument document = QJsonDocument::fromJson(json);
	if (!document.isObject())
		return result;
	QSet<QString> seen;
	for (const QJsonValue &serviceValue : document.object().value("services").toArray()) {
		const QJsonObject service = serviceValue.toObject();
		const QString serviceName = service.value("name").toString().trimmed();
		const QString platform = platformOf(serviceName);
		if (platform.isEmpty())
			continue;
		for (const QJsonValue &serverValue : service.value("servers").toArray()) {
			const QJsonObject server = serverValue.toObject();
			const QString url = server.value("url").toString().trimmed();
			if (!isRtmpUrl(url) || seen.contains(url))
				continue;
			seen.insert(url);
			QString name = server.value("name").toString().trimmed();
			if (name.isEmpty())
				name = url;
			result.append({platform, serviceName, name, url});
		}
	}
	return result;
}

QStringList IngestServers::servicesFiles()
{
	QStringList files;
	obs_module_t *module = obs_get_module("rtmp-services");
	if (!module)
		return files;
	for (const QString &path : {takePath(obs_module_get_config_path(module, "services.json")),
				    takePath(obs_find_module_file(module, "services.json"))}) {
		if (!path.isEmpty() && QFile::exists(path))
			files.append(path);
	}
	return files;
}

QList<IngestServer> IngestServers::available()
{
	for (const QString &path : servicesFiles()) {
		QFile file(path);
		if (!file.open(QIODevice::ReadOnly))
			continue;
		const QList<IngestServer> servers = parse(file.readAll());
		if (!servers.isEmpty())
			return servers;
	}
	return {};
}

} // namespace stilwane
