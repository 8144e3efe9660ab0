// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

#include <obs-module.h>

namespace stilwane {

// Module-wide state handed over by OBS: the module handle and the locale table. Touched on the
// user-interface thread only.

void setModuleHandle(obs_module_t *module);
obs_module_t *moduleHandle();

void setLocaleTable(lookup_t *table);
lookup_t *localeTable();

// The full path of a file in the module's data folder ("icons/x.svg"), or empty when there is none.
// Tests point it at the source tree's data folder with setModuleDataOverride.
QString moduleDataFile(const QString &relative);
void setModuleDataOverride(const QString &directory);

// Looks a locale key up; a missing key (or no table at all) yields the key itself.
QString translate(const char *key);

// The en-US table alone, for what leaves the plug-in in English whatever OBS's language (the remote
// control's answers). Without one the user's table answers: the tests load only en-US.
void setEnglishLocaleTable(lookup_t *table);
lookup_t *englishLocaleTable();
QString translateEnglish(const char *key);
bool lookupModuleString(const char *key, const char **out);

// True when the environment asks for the plug-in's debug lines (STILWANE_DEBUG=1).
bool debugLogging();

// The plug-in's one way into the OBS log: blog with "[stilwane] " in front of the format, or "[stilwane]"
// alone when the format starts with a tag of its own ("[selftest] ..." logs "[stilwane][selftest] ...").
// LOG_DEBUG lines are written only when debugLogging() is true.
void stilwaneLog(int level, const char *format, ...)
#ifdef __GNUC__
	__attribute__((format(printf, 2, 3)))
#endif
	;

} // namespace stilwane
