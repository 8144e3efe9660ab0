// SPDX-License-Identifier: GPL-2.0-or-later
#include <dialogs/GenerateDialog.hpp>

#include <canvas/CanvasManager.hpp>
#include <dialogs/MessageBoxes.hpp>
#include <generate/LayoutTemplates.hpp>
#include <common/Module.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include <obs-frontend-api.h>
#include <obs.hpp>

namespace stilwane {

namespace {

struct TemplateChoice {
	const char *key;
	TemplateKind kind;
};

constexpr TemplateChoice kTemplates[] = {
	{"Generate.Template.CenterCrop", TemplateKind::CenterCrop},
	{"Generate.Template.FitWidth", TemplateKind::FitWidth},
	{"Generate.Template.Stacked", TemplateKind::Stacked},
	{"Generate.Template.Thirds", TemplateKind::Thirds},
};

QString uuidOf(obs_source_t *source)
{
	return QString::fromUtf8(obs_source_get_uuid(source));
}

// The source a combo's current entry names (new reference), or null when it has none or the source
// is gone.
obs_source_t *comboSource(const QComboBox *combo)
{
	if (combo->currentIndex() < 0)
		return nullptr;
	obs_source_t *source = obs_get_source_by_uuid(combo->currentData().toString().toUtf8().constData());
	// A source deleted while the dialog was open may linger until its last reference goes.
	if (source && obs_source_removed(source)) {
		obs_source_release(source);
		return nullptr;
	}
	return source;
}

} // namespace

GenerateDialog::GenerateDialog(QWidget *parent) : QDialog(parent)
{
	setWindowTitle(translate("Generate.Title"));
	setMinimumWidth(400);
	form = new QFormLayout(this);

	sourceCombo = new QComboBox(this);
	sourceCombo->setObjectName("stilwane_generate_source");
	form->addRow(translate("Generate.Source"), sourceCombo);

	templateCombo = new QComboBox(this);
	templateCombo->setObjectName("stilwane_generate_template");
	for (const TemplateChoice &t : kTemplates)
		templateCombo->addItem(translate(t.key), int(t.kind));
	form->addRow(translate("Generate.Template"), templateCombo);

	middleCombo = new QComboBox(this);
	middleCombo->setObjectName("stilwane_generate_middle");
	form->addRow(translate("Generate.MiddleSource"), middleCombo);

	bottomCombo = new QComboBox(this);
	bottomCombo->setObjectName("stilwane_generate_bottom");
	form->addRow(translate("Generate.BottomSource"), bottomCombo);

	nameEdit = new QLineEdit(this);
	nameEdit->setObjectName("stilwane_generate_name");
	form->addRow(translate("Generate.Name"), nameEdit);

	linkCheck = new QCheckBox(translate("Generate.LinkToo"), this);
	linkCheck->setObjectName("stilwane_generate_link");
	linkCheck->setChecked(true);
	form->addRow(linkCheck);

	auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
	buttons->setObjectName("stilwane_generate_buttons");
	useObsButtonTexts(buttons);
	form->addRow(buttons);

	fillSourceLists();

	connect(templateCombo, &QComboBox::currentIndexChanged, this, &GenerateDialog::onTemplateChanged);
	connect(sourceCombo, &QComboBox::currentIndexChanged, this, &GenerateDialog::onSourceChanged);
	connect(nameEdit, &QLineEdit::textEdited, this, [this] { nameEdited = true; });
	connect(buttons, &QDialogButtonBox::accepted, this, &GenerateDialog::tryAccept);
	connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

	onTemplateChanged(templateCombo->currentIndex());
	onSourceChanged(sourceCombo->currentIndex());
}

void GenerateDialog::fillSourceLists()
{
	obs_frontend_source_list scenes = {};
	obs_frontend_get_scenes(&scenes);

	OBSSourceAutoRelease program = obs_frontend_get_current_scene();
	const QString programUuid = program ? uuidOf(program) : QString();
	int preselected = 0;
	for (size_t i = 0; i < scenes.sources.num; i++) {
		obs_source_t *scene = scenes.sources.array[i];
		if (uuidOf(scene) == programUuid)
			preselected = int(i);
		sourceCombo->addItem(QString::fromUtf8(obs_source_get_name(scene)), uuidOf(scene));
	}
	sourceCombo->setCurrentIndex(sourceCombo->count() ? preselected : -1);

	QVector<QPair<QString, QString>> entries;
	obs_enum_sources(
		[](void *param, obs_source_t *source) {
			if (obs_source_get_output_flags(source) & OBS_SOURCE_VIDEO)
				static_cast<QVector<QPair<QString, QString>> *>(param)->append(
					{QString::fromUtf8(obs_source_get_name(source)), uuidOf(source)});
			return true;
		},
		&entries);
	const QString scenePrefix = translate("Generate.ScenePrefix");
	for (size_t i = 0; i < scenes.sources.num; i++) {
		obs_source_t *scene = scenes.sources.array[i];
		entries.append({scenePrefix.arg(QString::fromUtf8(obs_source_get_name(scene))), uuidOf(scene)});
	}
	obs_frontend_source_list_free(&scenes);

	for (QComboBox *combo : {middleCombo, bottomCombo}) {
		for (const auto &entry : entries)
			combo->addItem(entry.first, entry.second);
	}
	middleCombo->setCurrentIndex(entries.isEmpty() ? -1 : 0);
	bottomCombo->setCurrentIndex(entries.size() > 1 ? 1 : (entries.isEmpty() ? -1 : 0));
}

void GenerateDialog::onTemplateChanged(int)
{
	const int kind = templateCombo->currentData().toInt();
	form->setRowVisible(middleCombo, kind == int(TemplateKind::Thirds));
	form->setRowVisible(bottomCombo, kind == int(TemplateKind::Stacked) || kind == int(TemplateKind::Thirds));
}

void GenerateDialog::onSourceChanged(int)
{
	const QString source = sourceCombo->currentText();
	if (!nameEdited && !source.isEmpty())
		nameEdit->setText(CanvasManager::instance()->uniqueSceneName(source));
}

void GenerateDialog::tryAccept()
{
	const QString name = nameEdit->text().trimmed();
	if (name.isEmpty()) {
		nameEdit->setFocus();
		return;
	}
	if (CanvasManager::instance()->sceneNameExists(name)) {
		showMessage(this, MessageKind::Warning, translate("Error.Title"), translate("Scenes.NameExists"));
		nameEdit->setFocus();
		nameEdit->selectAll();
		return;
	}
	if (sourceCombo->currentIndex() < 0) {
		showMessage(this, MessageKind::Warning, translate("Error.Title"), translate("Generate.NoScenes"));
		return;
	}
	accept();
}

obs_source_t *GenerateDialog::generate()
{
	const QString name = nameEdit->text().trimmed();
	if (name.isEmpty())
		return nullptr;
	if (CanvasManager::instance()->sceneNameExists(name)) {
		showMessage(this, MessageKind::Warning, translate("Error.Title"), translate("Scenes.NameExists"));
		return nullptr;
	}
	OBSSourceAutoRelease mainScene = comboSource(sourceCombo);
	if (!mainScene) {
		showMessage(this, MessageKind::Warning, translate("Error.Title"), translate("Generate.NoScenes"));
		return nullptr;
	}

	const auto kind = TemplateKind(templateCombo->currentData().toInt());
	OBSSourceAutoRelease middle;
	OBSSourceAutoRelease bottom;
	ExtraSources extra;
	if (kind == TemplateKind::Thirds) {
		middle = comboSource(middleCombo);
		bottom = comboSource(bottomCombo);
		extra.first = middle;
		extra.second = bottom;
	} else if (kind == TemplateKind::Stacked) {
		bottom = comboSource(bottomCombo);
		extra.first = bottom;
	}
	return generateVerticalScene(mainScene, kind, extra, name, linkCheck->isChecked());
}

} // namespace stilwane
