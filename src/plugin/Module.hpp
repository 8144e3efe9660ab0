#pragma once

#include <QString>

#include <obs-module.h>

// Module-wide state handed over by OBS: the module handle and the locale table. Touched on the
// user-interface thread only.

void setModuleHandle(obs_module_t *module);
obs_module_t *moduleHandle();

void setLocaleTable(lookup_t *table);
lookup_t *localeTable();

// Looks a locale key up; a missing key (or no table at all) yields the key itself.
QString translate(const char *key);
bool lookupModuleString(const char *key, const char **out);

// Logs through blog with "[stilwane] " in front of the format.
void stilwaneLog(int level, const char *format, ...)
#ifdef __GNUC__
	__attribute__((format(printf, 2, 3)))
#endif
	;
