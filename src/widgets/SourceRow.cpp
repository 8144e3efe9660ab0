// SPDX-License-Identifier: GPL-2.0-or-later
#include <widgets/SourceRow.hpp>

#include <widgets/SourceName.hpp>
#include <widgets/SourceToggle.hpp>
#include <common/Module.hpp>

#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QVariant>

#include <obs-frontend-api.h>

namespace stilwane {

const char *SourceRow::iconKindFor(obs_source_t *source)
{
	if (obs_source_is_group(source))
		return "groupIcon";
	if (obs_source_is_scene(source))
		return "sceneIcon";
	switch (obs_source_get_icon_type(obs_source_get_id(source))) {
	case OBS_ICON_TYPE_IMAGE:
		return "imageIcon";
	case OBS_ICON_TYPE_COLOR:
		return "colorIcon";
	case OBS_ICON_TYPE_SLIDESHOW:
		return "slideshowIcon";
	case OBS_ICON_TYPE_AUDIO_INPUT:
		return "audioInputIcon";
	case OBS_ICON_TYPE_AUDIO_OUTPUT:
		return "audioOutputIcon";
	case OBS_ICON_TYPE_DESKTOP_CAPTURE:
		return "desktopCapIcon";
	case OBS_ICON_TYPE_WINDOW_CAPTURE:
		return "windowCapIcon";
	case OBS_ICON_TYPE_GAME_CAPTURE:
		return "gameCapIcon";
	case OBS_ICON_TYPE_CAMERA:
		return "cameraIcon";
	case OBS_ICON_TYPE_TEXT:
		return "textIcon";
	case OBS_ICON_TYPE_MEDIA:
		return "mediaIcon";
	case OBS_ICON_TYPE_BROWSER:
		return "browserIcon";
	case OBS_ICON_TYPE_PROCESS_AUDIO_OUTPUT:
		return "audioProcessOutputIcon";
	case OBS_ICON_TYPE_UNKNOWN:
	case OBS_ICON_TYPE_CUSTOM:
		break;
	}
	return "defaultIcon";
}

SourceRow::SourceRow(obs_source_t *source, QWidget *parent) : QWidget(parent)
{
	setAttribute(Qt::WA_TranslucentBackground);
	kind = iconKindFor(source);

	auto *layout = new QHBoxLayout(this);
	layout->setContentsMargins(2, 0, 0, 0);
	layout->setSpacing(2);

	icon = new QLabel(this);
	icon->setProperty("class", "source-icon");
	icon->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
	icon->setAttribute(Qt::WA_TransparentForMouseEvents);

	name = new SourceName(QString(), this);
	name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
	name->setMinimumWidth(0);
	name->setAttribute(Qt::WA_TransparentForMouseEvents);
	showName(QString::fromUtf8(obs_source_get_name(source)));
	renameSignal.Connect(obs_source_get_signal_handler(source), "rename", onRenamed, this);

	visibility = new SourceToggle(this, "checkbox-icon indicator-visibility", translate("Sources.Visible"));
	lock = new SourceToggle(this, "checkbox-icon indicator-lock", translate("Sources.Lock"));

	layout->addWidget(icon, 0);
	layout->addWidget(name, 1);
	layout->addWidget(visibility, 0);
	layout->addWidget(lock, 0);

	applyIcon();
}

void SourceRow::showName(const QString &text)
{
	name->setText(text);
	name->setToolTip(text);
	name->setAccessibleName(text);
}

void SourceRow::onRenamed(void *param, calldata_t *data)
{
	auto *self = static_cast<SourceRow *>(param);
	const QString newName = QString::fromUtf8(calldata_string(data, "new_name"));
	// The row disconnects before it goes, and a queued call dies with its receiver.
	QMetaObject::invokeMethod(
		self,
		[self, newName] {
			self->showName(newName);
			emit self->nameChanged(newName);
		},
		Qt::QueuedConnection);
}

void SourceRow::changeEvent(QEvent *event)
{
	QWidget::changeEvent(event);
	// Theme switches arrive as style and palette changes; the main window's icons change with them.
	if ((event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange) && icon)
		applyIcon();
}

void SourceRow::applyIcon()
{
	auto *window = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	if (!window)
		return;
	QIcon themed = window->property(kind).value<QIcon>();
	if (themed.isNull())
		themed = window->property("defaultIcon").value<QIcon>();
	icon->setPixmap(themed.pixmap(QSize(16, 16), QIcon::Normal, QIcon::Off));
}

} // namespace stilwane
