#include <generate/LayoutTemplates.hpp>

#include <plugin/Module.hpp>

QString generateVerticalScene(const GenerateRequest &, QString *error)
{
	if (error)
		*error = translate("Generate.Unavailable");
	return QString();
}
