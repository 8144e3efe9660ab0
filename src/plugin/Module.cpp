#include <plugin/Module.hpp>

#include <cstdarg>
#include <string>

#include <util/text-lookup.h>

namespace {
obs_module_t *gModule = nullptr;
lookup_t *gLocale = nullptr;
} // namespace

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

void stilwaneLog(int level, const char *format, ...)
{
	std::string prefixed = std::string("[") + "stilwane" + "] " + format;
	va_list args;
	va_start(args, format);
	blogva(level, prefixed.c_str(), args);
	va_end(args);
}
