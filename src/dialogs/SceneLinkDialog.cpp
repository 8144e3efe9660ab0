// SPDX-License-Identifier: GPL-2.0-or-later
#include <dialogs/SceneLinkDialog.hpp>

#include <dialogs/MessageBoxes.hpp>
#include <common/Limits.hpp>
#include <common/Module.hpp>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>

#include <obs-frontend-api.h>

namespace stilwane {

SceneLinkDialog::SceneLinkDialog(QWidget *parent, const QString &currentLink) : QDialog(parent)
{
	setWindowTitle(translate("Link.Title"));
	auto *form = new QFormLayout(this);

	combo = new QComboBox(this);
	combo->setObjectName("stilwane_link_combo");
	combo->setAccessibleName(translate("Link.Title"));
	combo->addItem(translate("Link.None"), QString());
	combo->addItem(translate("Link.SameName"), QString::fromUtf8(kSameNameLink));
	obs_frontend_source_list list = {};
	obs_frontend_get_scenes(&list);
	for (size_t i = 0; i < list.sources.num; i++) {
		obs_source_t *scene = list.sources.array[i];
		combo->addItem(QString::fromUtf8(obs_source_get_name(scene)),
			       QString::fromUtf8(obs_source_get_uuid(scene)));
	}
	obs_frontend_source_list_free(&list);

	int initial = 0;
	for (int i = 0; i < combo->count(); i++) {
		if (combo->itemData(i).toString() == currentLink) {
			initial = i;
			break;
		}
	}
	combo->setCurrentIndex(initial);
	form->addRow(translate("Link.Title"), combo);

	auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
	useObsButtonTexts(buttons);
	connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
	connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
	form->addRow(buttons);
}

QString SceneLinkDialog::chosenLink() const
{
	return combo->currentData().toString();
}

} // namespace stilwane
