// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/TransitionsDock.hpp>

#include <canvas/CanvasManager.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <widgets/IconButton.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include <obs-frontend-api.h>
#include <obs.hpp>

namespace stilwane {

namespace {

// The canvas a flow started on: a flow whose question outlived the canvas (a collection switch while
// the box was open) must not act on the next one.
QString canvasUuid()
{
	CanvasManager *m = CanvasManager::instance();
	return m->hasCanvas() ? QString::fromUtf8(obs_canvas_get_uuid(m->canvas())) : QString();
}

QString typeDisplayName(const QString &typeId)
{
	const char *name = obs_source_get_display_name(typeId.toUtf8().constData());
	return name && *name ? QString::fromUtf8(name) : typeId;
}

// True also for a uuid that is not listed: nothing to remove.
bool isBuiltIn(const QString &uuid)
{
	for (const TransitionInfo &info : CanvasManager::instance()->transitions())
		if (info.uuid == uuid)
			return info.builtIn;
	return true;
}

void warnEditFailed(QWidget *parent)
{
	showMessage(parent, MessageKind::Warning, translate("Error.Title"), translate("Transitions.EditFailed"));
}

} // namespace

TransitionsDock::TransitionsDock(QWidget *parent) : QWidget(parent)
{
	setObjectName("stilwane_transitions_dock");
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(4, 4, 4, 4);
	layout->setSpacing(4);

	auto *row = new QHBoxLayout();
	row->setSpacing(1);
	choice = new QComboBox(this);
	choice->setObjectName("stilwane_transition_choice");
	choice->setAccessibleName(translate("Transitions.Select"));
	choice->setToolTip(translate("Transitions.SelectHint"));
	choice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
	choice->setMinimumContentsLength(6);
	choice->setContextMenuPolicy(Qt::CustomContextMenu);
	row->addWidget(choice, 1);

	addButton = new IconButton(this, translate("Transitions.Add"), "icon-plus");
	addButton->setObjectName("stilwane_transition_add");
	typeMenu = new QMenu(addButton);
	typeMenu->setObjectName("stilwane_transition_add_menu");
	addButton->setMenu(typeMenu);
	addButton->setPopupMode(QToolButton::InstantPopup);
	// The button is an icon of its own; the menu arrow would only squeeze it.
	addButton->setStyleSheet(addButton->styleSheet() + " QToolButton::menu-indicator { image: none; width: 0px; }");
	row->addWidget(addButton);
	removeButton = new IconButton(this, translate("Transitions.Remove"), "icon-trash");
	removeButton->setObjectName("stilwane_transition_remove");
	row->addWidget(removeButton);
	propertiesButton = new IconButton(this, translate("Transitions.Properties"), "icon-gear");
	propertiesButton->setObjectName("stilwane_transition_properties");
	row->addWidget(propertiesButton);
	layout->addLayout(row);

	auto *form = new QFormLayout();
	form->setContentsMargins(0, 0, 0, 0);
	duration = new QSpinBox(this);
	duration->setObjectName("stilwane_transition_duration");
	duration->setRange(0, kMaxTransitionMs);
	duration->setSingleStep(50);
	duration->setSuffix(" ms");
	// Typing 1500 must not switch with 1, 15 and 150 ms first.
	duration->setKeyboardTracking(false);
	duration->setAccessibleName(translate("Transitions.Duration"));
	form->addRow(translate("Transitions.Duration"), duration);
	layout->addLayout(form);

	matchBox = new QCheckBox(translate("Settings.MatchMainTransition"), this);
	matchBox->setObjectName("stilwane_transition_match");
	layout->addWidget(matchBox);
	matchHint = new QLabel(translate("Transitions.MatchHint"), this);
	matchHint->setObjectName("stilwane_transition_match_hint");
	matchHint->setWordWrap(true);
	QFont font = matchHint->font();
	if (font.pointSizeF() > 0)
		font.setPointSizeF(font.pointSizeF() * 0.9);
	else if (font.pixelSize() > 0)
		font.setPixelSize(std::max(1, int(font.pixelSize() * 0.9)));
	matchHint->setFont(font);
	layout->addWidget(matchHint);
	layout->addStretch(1);

	CanvasManager *m = CanvasManager::instance();
	connect(m, &CanvasManager::transitionsChanged, this, [this] { refill(); });
	connect(m, &CanvasManager::canvasChanged, this, [this] { refill(); });
	connect(m, &CanvasManager::transitionSettingsChanged, this, [this] { sync(); });
	connect(choice, &QComboBox::currentIndexChanged, this, [this](int index) {
		if (index >= 0)
			CanvasManager::instance()->selectTransition(choice->itemData(index).toString());
	});
	connect(duration, &QSpinBox::valueChanged, this,
		[](int value) { CanvasManager::instance()->setTransitionDuration(value); });
	connect(matchBox, &QCheckBox::toggled, this,
		[](bool checked) { CanvasManager::instance()->setMatchMainTransition(checked); });
	connect(removeButton, &QToolButton::clicked, this, [this] { removeTransition(currentUuid()); });
	connect(propertiesButton, &QToolButton::clicked, this, [this] { openProperties(currentUuid()); });
	connect(typeMenu, &QMenu::aboutToShow, this, [this] { fillTypeMenu(); });
	connect(choice, &QComboBox::customContextMenuRequested, this, &TransitionsDock::showContextMenu);

	refill();
}

QString TransitionsDock::currentUuid() const
{
	return choice->currentIndex() >= 0 ? choice->currentData().toString() : QString();
}

QString TransitionsDock::proposedName(const QString &typeId)
{
	const QVector<TransitionInfo> list = CanvasManager::instance()->transitions();
	const auto taken = [&list](const QString &name) {
		for (const TransitionInfo &info : list)
			if (info.name == name)
				return true;
		return false;
	};
	const QString base = typeDisplayName(typeId);
	QString candidate = base;
	for (int counter = 2; taken(candidate); counter++)
		candidate = base + " " + QString::number(counter);
	return candidate;
}

void TransitionsDock::refill()
{
	QSignalBlocker block(choice);
	choice->clear();
	for (const TransitionInfo &info : CanvasManager::instance()->transitions())
		choice->addItem(info.name, info.uuid);
	sync();
}

void TransitionsDock::sync()
{
	CanvasManager *m = CanvasManager::instance();
	QSignalBlocker blockChoice(choice);
	QSignalBlocker blockDuration(duration);
	QSignalBlocker blockMatch(matchBox);

	choice->setCurrentIndex(
		choice->findData(m->selectedTransitionUuid(), Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive));
	const QString current = currentUuid();
	OBSSourceAutoRelease source = m->transitionByUuid(current);
	const bool canvas = m->hasCanvas();
	const bool hasSelection = canvas && source;
	const bool builtIn = isBuiltIn(current);

	choice->setEnabled(canvas);
	addButton->setEnabled(canvas);
	removeButton->setEnabled(hasSelection && !builtIn);
	propertiesButton->setEnabled(hasSelection && obs_source_configurable(source));
	duration->setValue(m->transitionDuration());
	duration->setEnabled(hasSelection && !m->isTransitionFixed(current));
	matchBox->setChecked(config().matchMainTransition);
	matchHint->setVisible(matchBox->isChecked());
}

void TransitionsDock::fillTypeMenu()
{
	typeMenu->clear();
	const char *id = nullptr;
	for (size_t i = 0; obs_enum_transition_types(i, &id); i++) {
		const QString typeId = QString::fromUtf8(id);
		QAction *action =
			typeMenu->addAction(typeDisplayName(typeId), this, [this, typeId] { addTransition(typeId); });
		action->setData(typeId);
	}
}

void TransitionsDock::addTransition(const QString &typeId)
{
	const QString canvas = canvasUuid();
	if (canvas.isEmpty())
		return;
	bool ok = false;
	const QString name =
		askText(this, translate("Transitions.Add"), translate("Transitions.Name"), proposedName(typeId), &ok)
			.trimmed();
	if (!ok || name.isEmpty() || canvasUuid() != canvas)
		return;
	if (!CanvasManager::instance()->addTransition(typeId, name))
		warnEditFailed(this);
}

void TransitionsDock::removeTransition(const QString &uuid)
{
	const QString canvas = canvasUuid();
	OBSSourceAutoRelease source = CanvasManager::instance()->transitionByUuid(uuid);
	// A built-in one stays whatever the answer: no question.
	if (!source || isBuiltIn(uuid))
		return;
	const QString text =
		translate("Transitions.ConfirmRemove").replace("%1", QString::fromUtf8(obs_source_get_name(source)));
	if (!confirmYesNo(this, translate("Transitions.Remove"), text) || canvasUuid() != canvas)
		return;
	CanvasManager::instance()->removeTransition(uuid);
}

void TransitionsDock::renameTransition(const QString &uuid)
{
	const QString canvas = canvasUuid();
	OBSSourceAutoRelease source = CanvasManager::instance()->transitionByUuid(uuid);
	if (!source)
		return;
	bool ok = false;
	const QString name = askText(this, translate("Transitions.Rename"), translate("Transitions.Name"),
				     QString::fromUtf8(obs_source_get_name(source)), &ok)
				     .trimmed();
	if (!ok || name.isEmpty() || canvasUuid() != canvas)
		return;
	if (!CanvasManager::instance()->renameTransition(uuid, name))
		warnEditFailed(this);
}

void TransitionsDock::openProperties(const QString &uuid)
{
	OBSSourceAutoRelease source = CanvasManager::instance()->transitionByUuid(uuid);
	if (source && obs_source_configurable(source))
		obs_frontend_open_source_properties(source);
}

void TransitionsDock::showContextMenu(const QPoint &pos)
{
	// Bound to the transition current as the menu opens, whatever a remote request selects meanwhile.
	const QString uuid = currentUuid();
	if (uuid.isEmpty())
		return;
	QMenu menu(this);
	menu.addAction(translate("Transitions.Rename"), this, [this, uuid] { renameTransition(uuid); });
	QAction *properties =
		menu.addAction(translate("Transitions.Properties"), this, [this, uuid] { openProperties(uuid); });
	properties->setEnabled(propertiesButton->isEnabled());
	execMenu(&menu, choice->mapToGlobal(pos));
}

} // namespace stilwane
