// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/SourcesDock.hpp>

#include <canvas/CanvasManager.hpp>
#include <canvas/CollectionSaver.hpp>
#include <docks/DeferredSourceFit.hpp>
#include <widgets/IconButton.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <dialogs/SourceEdits.hpp>
#include <generate/ItemPlacement.hpp>
#include <common/Module.hpp>

#include <QCollator>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <obs-frontend-api.h>

#include <algorithm>

namespace stilwane {

namespace {

constexpr uint32_t kUnusableTypeFlags = OBS_SOURCE_DEPRECATED | OBS_SOURCE_CAP_DISABLED;

QString obsText(const char *key)
{
	return QString::fromUtf8(obs_frontend_get_locale_string(key));
}

struct SourceType {
	QString displayName;
	QString unversionedId;
};

} // namespace

void SourcesDock::buildAddMenu(QMenu *menu)
{
	QMenu *newSource = menu->addMenu(translate("Sources.AddNew"));
	connect(newSource, &QMenu::aboutToShow, this, [this, newSource] { fillNewSourceMenu(newSource); });
	QAction *scene = menu->addAction(translate("Sources.AddScene"));
	connect(scene, &QAction::triggered, this, &SourcesDock::addMainScene);
	QAction *existing = menu->addAction(translate("Sources.AddExisting"));
	connect(existing, &QAction::triggered, this, &SourcesDock::addExisting);

	auto enable = [this, newSource, scene, existing] {
		const bool usable = attachedIsScene() && attachedIsLive();
		newSource->setEnabled(usable);
		scene->setEnabled(usable);
		existing->setEnabled(usable);
	};
	connect(menu, &QMenu::aboutToShow, this, enable);
	enable();
}

void SourcesDock::fillNewSourceMenu(QMenu *submenu)
{
	submenu->clear();
	if (!attachedScene)
		return;
	QList<SourceType> types;
	const char *id = nullptr;
	const char *unversioned = nullptr;
	for (size_t i = 0; obs_enum_input_types2(i, &id, &unversioned); i++) {
		if (obs_get_source_output_flags(id) & kUnusableTypeFlags)
			continue;
		types.append({QString::fromUtf8(obs_source_get_display_name(id)), QString::fromUtf8(unversioned)});
	}
	QCollator collator;
	std::stable_sort(types.begin(), types.end(), [&collator](const SourceType &a, const SourceType &b) {
		const int order = collator.compare(a.displayName, b.displayName);
		return order != 0 ? order < 0 : a.unversionedId < b.unversionedId;
	});
	for (const SourceType &type : types) {
		QAction *entry = submenu->addAction(type.displayName);
		entry->setData(type.unversionedId);
		connect(entry, &QAction::triggered, this,
			[this, unversioned = type.unversionedId] { addNewSource(unversioned); });
	}
}

void SourcesDock::addNewSource(const QString &unversionedId)
{
	if (!attachedScene)
		return;
	OBSWeakSource weakScene = OBSGetWeakRef(attachedScene);
	const QByteArray unversioned = unversionedId.toUtf8();
	const char *type = obs_get_latest_input_type_id(unversioned.constData());
	if (!type)
		return;

	const QString base = QString::fromUtf8(obs_source_get_display_name(type));
	QString proposed = base;
	for (int n = 2; sourceNameTaken(proposed); n++)
		proposed = base + " " + QString::number(n);

	CanvasManager *manager = CanvasManager::instance();
	QInputDialog dialog(this);
	dialog.setWindowTitle(translate("Sources.AddNew"));
	dialog.setLabelText(translate("Sources.NewName"));
	dialog.setInputMode(QInputDialog::TextInput);
	dialog.setTextValue(proposed);
	dialog.setOkButtonText(obsText("OK"));
	dialog.setCancelButtonText(obsText("Cancel"));
	// A name typed for one scene must not land in another.
	connect(manager, &CanvasManager::canvasChanged, &dialog, &QDialog::reject);
	connect(manager, &CanvasManager::editingSceneChanged, &dialog, &QDialog::reject);

	auto sceneStillAttached = [&] {
		OBSSource scene = OBSGetStrongRef(weakScene);
		return scene && scene.Get() == attachedScene.Get() && !obs_source_removed(scene) &&
		       manager->hasCanvas();
	};
	// The dialog runs a nested event loop in which the dock may go away with its main dock.
	QPointer<SourcesDock> self(this);

	for (;;) {
		if (!sceneStillAttached())
			return;
		if (execDialog(&dialog) != QDialog::Accepted || !self)
			return;
		const QString name = dialog.textValue().trimmed();
		if (name.isEmpty() || !sceneStillAttached())
			return;
		if (sourceNameTaken(name)) {
			showErrorBox("Sources.NameExists");
			continue;
		}

		OBSSource sceneSource = OBSGetStrongRef(weakScene);
		if (!sceneSource || sceneSource.Get() != attachedScene.Get() || obs_source_removed(sceneSource) ||
		    !manager->hasCanvas())
			return;
		type = obs_get_latest_input_type_id(unversioned.constData());
		if (!type || (obs_get_source_output_flags(type) & kUnusableTypeFlags))
			return;

		OBSDataAutoRelease settings;
		if (unversionedId == "color_source") {
			settings = obs_data_create();
			obs_data_set_int(settings, "width", manager->canvasWidth());
			obs_data_set_int(settings, "height", manager->canvasHeight());
		}
		OBSSourceAutoRelease source = obs_source_create(type, name.toUtf8().constData(), settings, nullptr);
		if (!source) {
			showErrorBox("Sources.CreateFailed");
			return;
		}
		obs_scene_t *scene = obs_scene_from_source(sceneSource);
		obs_sceneitem_t *item = scene ? obs_scene_add(scene, source) : nullptr;
		if (!item) {
			obs_source_remove(source);
			showErrorBox("Sources.CreateFailed");
			return;
		}

		if ((obs_source_get_output_flags(source) & OBS_SOURCE_VIDEO) && !fitIfWider(item))
			new DeferredSourceFit(scene, source, item, this);
		manager->selectItem(obs_sceneitem_get_id(item));
		CollectionSaver::instance()->request();
		rebuild();
		stilwaneLog(LOG_INFO, "new vertical source '%s' (%s) -> '%s'", obs_source_get_name(source), type,
			    obs_source_get_name(sceneSource));
		obs_frontend_open_source_properties(source);
		return;
	}
}

void SourcesDock::showErrorBox(const char *key)
{
	QMessageBox box(QMessageBox::Warning, translate("Error.Title"), translate(key), QMessageBox::NoButton, this);
	box.addButton(obsText("OK"), QMessageBox::AcceptRole);
	execDialog(&box);
}

QString SourcesDock::pickEntry(const QString &prompt, QComboBox *combo)
{
	QDialog dialog(this);
	dialog.setWindowTitle(prompt);
	auto *form = new QFormLayout(&dialog);
	form->addRow(prompt, combo);
	auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
	useObsButtonTexts(buttons);
	connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
	connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
	form->addRow(buttons);
	if (execDialog(&dialog) != QDialog::Accepted || combo->currentIndex() < 0)
		return QString();
	return combo->currentData().toString();
}

void SourcesDock::addPicked(const QString &sourceUuid)
{
	if (sourceUuid.isEmpty())
		return;
	OBSSourceAutoRelease source = obs_get_source_by_uuid(sourceUuid.toUtf8().constData());
	obs_scene_t *scene = attachedScene ? obs_scene_from_source(attachedScene) : nullptr;
	if (!source || !scene)
		return;
	// Whatever its size, a picked scene or source is meant to fill the vertical width.
	if (obs_sceneitem_t *item = obs_scene_add(scene, source)) {
		fitItemToWidth(item);
		CollectionSaver::instance()->request();
	}
}

void SourcesDock::addMainScene()
{
	if (!attachedScene)
		return;
	auto *combo = new QComboBox;
	obs_frontend_source_list scenes = {};
	obs_frontend_get_scenes(&scenes);
	for (size_t i = 0; i < scenes.sources.num; i++) {
		obs_source_t *scene = scenes.sources.array[i];
		combo->addItem(QString::fromUtf8(obs_source_get_name(scene)),
			       QString::fromUtf8(obs_source_get_uuid(scene)));
	}
	obs_frontend_source_list_free(&scenes);
	QPointer<SourcesDock> self(this);
	const QString uuid = pickEntry(translate("Sources.PickScene"), combo);
	if (self)
		addPicked(uuid);
}

void SourcesDock::addExisting()
{
	if (!attachedScene)
		return;
	auto *combo = new QComboBox;
	obs_enum_sources(
		[](void *param, obs_source_t *source) {
			if (obs_source_get_output_flags(source) & OBS_SOURCE_VIDEO)
				static_cast<QComboBox *>(param)->addItem(
					QString::fromUtf8(obs_source_get_name(source)),
					QString::fromUtf8(obs_source_get_uuid(source)));
			return true;
		},
		combo);
	QPointer<SourcesDock> self(this);
	const QString uuid = pickEntry(translate("Sources.PickSource"), combo);
	if (self)
		addPicked(uuid);
}

} // namespace stilwane
