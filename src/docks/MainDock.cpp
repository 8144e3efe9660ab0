#include <docks/MainDock.hpp>

#include <plugin/Module.hpp>

#include <QLabel>
#include <QVBoxLayout>

MainDock::MainDock(QWidget *parent) : QWidget(parent)
{
	setObjectName("stilwane_main_dock");
	auto *layout = new QVBoxLayout(this);
	auto *label = new QLabel(translate("Dock.Placeholder"), this);
	label->setObjectName("stilwane_placeholder");
	label->setWordWrap(true);
	label->setAlignment(Qt::AlignCenter);
	label->setEnabled(false);
	layout->addWidget(label);
	setMinimumWidth(200);
}
