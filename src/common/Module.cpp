// SPDX-License-Identifier: GPL-2.0-or-later
#include <common/Module.hpp>

#include <QDir>
#include <QFileInfo>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include <util/text-lookup.h>

namespace stilwane {

namespace {
obs_module_t *gModule = nullptr;
lookup_t *gLocale = nullptr;
lookup_t *gEnglish = nullptr;
QString gDataOverride;
} // namespace

QString moduleDataFile(const QString &relative)
{
	if (!gDataOverride.isEmpty()) {
		const QString path = QDir(gDataOverride).filePath(relative);
		return QFileInfo::exists(path) ? path : QString();
	}
	if (!gModule)
		return QString();
	char *file = obs_find_module_file(gModule, relative.toUtf8().constData());
	QString path = file ? QString::fromUtf8(file) : QString();
	bfree(file);
	return path;
}

void setModuleDataOverride(const QString &directory)
{
	gDataOverride = directory;
}

void setModuleHandle(obs_module_t *module)
{
	gModule = module;
}

obs_module_t *moduleHandle()
{
	return gModule;
}

void setLocaleTable(lookup_t *table)
{
	gLocale = table;
}

lookup_t *localeTable()
{
	return gLocale;
}

bool lookupModuleString(const char *key, const char **out)
{
	return gLocale && key && text_lookup_getstr(gLocale, key, out);
}

QString translate(const char *key)
{
	const char *text = nullptr;
	if (lookupModuleString(key, &text) && text)
		return QString::fromUtf8(text);
	return QString::fromUtf8(key ? key : "");
}

void setEnglishLocaleTable(lookup_t *table)
{
	gEnglish = table;
}

lookup_t *englishLocaleTable()
{
	return gEnglish;
}

QString translateEnglish(const char *key)
{
	const char *text = nullptr;
	if (gEnglish && key && text_lookup_getstr(gEnglish, key, &text) && text)
		return QString::fromUtf8(text);
	return translate(key);
}

bool debugLogging()
{
	const char *value = getenv("STILWANE_DEBUG");
	return value && strcmp(value, "1") == 0;
}

void stilwaneLog(int level, const char *format, ...)
{
	if (level == LOG_DEBUG && !debugLogging())
		return;
	// A tag of its own joins the prefix without a space: "[stilwane][selftest] ...".
	const bool tagged = format[0] == '[';
	std::string prefixed = std::string("[stilwane]") + (tagged ? "" : " ") + format;
	va_list args;
	va_start(args, format);
	blogva(level, prefixed.c_str(), args);
	va_end(args);
}

} // namespace stilwane
