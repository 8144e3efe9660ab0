// SPDX-License-Identifier: GPL-2.0-or-later
// The exported entry points of the OBS module. The plug-in's code lives in the static library.
#include <common/Module.hpp>
#include <plugin/Plugin.hpp>

#include <obs-module.h>
#include <util/text-lookup.h>

using namespace stilwane;

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module)
{
	setModuleHandle(module);
}

obs_module_t *obs_current_module(void)
{
	return moduleHandle();
}

MODULE_EXPORT uint32_t obs_module_ver(void)
{
	return LIBOBS_API_VER;
}

MODULE_EXPORT void obs_module_set_locale(const char *locale)
{
	if (localeTable())
		text_lookup_destroy(localeTable());
	setLocaleTable(obs_module_load_locale(moduleHandle(), "en-US", locale));
	if (englishLocaleTable())
		text_lookup_destroy(englishLocaleTable());
	setEnglishLocaleTable(obs_module_load_locale(moduleHandle(), "en-US", "en-US"));
}

MODULE_EXPORT void obs_module_free_locale(void)
{
	text_lookup_destroy(localeTable());
	setLocaleTable(nullptr);
	text_lookup_destroy(englishLocaleTable());
	setEnglishLocaleTable(nullptr);
}

MODULE_EXPORT bool obs_module_get_string(const char *key, const char **out)
{
	return lookupModuleString(key, out);
}

MODULE_EXPORT const char *obs_module_name(void)
{
	return "Stilwane";
}

MODULE_EXPORT const char *obs_module_description(void)
{
	return "Stilwane: stream a vertical canvas to YouTube alongside the main stream";
}

MODULE_EXPORT bool obs_module_load(void)
{
	return Plugin::load();
}

MODULE_EXPORT void obs_module_post_load(void)
{
	Plugin::postLoad();
}

MODULE_EXPORT void obs_module_unload(void)
{
	Plugin::unload();
}
