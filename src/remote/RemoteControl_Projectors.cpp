// SPDX-License-Identifier: GPL-2.0-or-later
// The vendor request that opens a projector of the vertical canvas.
#include <remote/RemoteControl.hpp>
#include <remote/RequestFields.hpp>

#include <preview/ProjectorWindow.hpp>
#include <preview/Projectors.hpp>

#include <QGuiApplication>
#include <QScreen>

namespace stilwane {

// "monitorIndex" counts the monitors as obs-websocket's GetMonitorList does (the application's
// screens in order), so a client passes on the index it read there; -1 or no index opens a window.
Result RemoteControl::openProjector(obs_data_t *request, obs_data_t *response)
{
	long long index = -1;
	const RequestFields fields(request);
	if (fields.readInteger("monitorIndex", &index) == RequestFields::Presence::WrongType)
		return RequestFields::wrongType("monitorIndex", "an integer");
	// obs-websocket 5's OpenVideoMixProjector names the mix: the vertical canvas is the program of its
	// own, with no preview or multiview projector.
	QString mix;
	const RequestFields::Presence hasMix = fields.readString("videoMixType", &mix);
	if (hasMix == RequestFields::Presence::WrongType)
		return RequestFields::wrongType("videoMixType", "a string");
	if (hasMix == RequestFields::Presence::Present && mix != QLatin1String("OBS_WEBSOCKET_VIDEO_MIX_TYPE_PROGRAM"))
		return Result::plain(Result::InvalidRequestField,
				     QString("videoMixType '%1': the vertical canvas has only the projector "
					     "OBS_WEBSOCKET_VIDEO_MIX_TYPE_PROGRAM")
					     .arg(mix));
	const QList<QScreen *> screens = QGuiApplication::screens();
	if (index < -1 || index >= screens.size())
		return Result::plain(Result::RequestFieldOutOfRange,
				     QString("monitorIndex %1 is no monitor of GetMonitorList (%2 monitors; -1 opens a "
					     "window)")
					     .arg(index)
					     .arg(screens.size()));
	if (projectorsClosed())
		return Result::plain(Result::NotReady, "projectors are closed: Stilwane is shutting down");

	bool alreadyOpen = false;
	ProjectorWindow *window = nullptr;
	if (index < 0) {
		window = openWindowProjector();
	} else {
		QScreen *screen = screens[index];
		alreadyOpen = findFullscreenProjector(screen, nullptr) != nullptr;
		window = openFullscreenProjector(screen);
	}
	if (!window)
		return Result::plain(Result::RequestProcessingFailed, "the projector could not be opened");
	obs_data_set_int(response, "monitorIndex", index);
	obs_data_set_bool(response, "fullscreen", index >= 0);
	obs_data_set_bool(response, "alreadyOpen", alreadyOpen);
	return Result();
}

} // namespace stilwane
