// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Shared by the vertical-output tests. Include after <QtTest>: libobs's SIMD macros break the compiler's
// intrinsics headers included after them.

#include <canvas/CanvasManager.hpp>
#include <output/VerticalOutput.hpp>
#include <common/ConfigRecord.hpp>
#include <common/Module.hpp>

#include <ObsTestEnv.hpp>
#include <PluginFixture.hpp>
#include <TestFrontend.hpp>

#include <QFileInfo>

#include <initializer_list>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <obs.hpp>
#include <util/text-lookup.h>

using namespace stilwane;

namespace outputtest {

// The libobs objects of the outputs that can still be found by name.
inline bool namesGone(QStringList *left)
{
	left->clear();
	for (const char *name : {"stilwane_output", "stilwane_recording", "stilwane_replay"})
		if (OBSOutputAutoRelease(obs_get_output_by_name(name)))
			*left << name;
	if (OBSServiceAutoRelease(obs_get_service_by_name("stilwane_service")))
		*left << "stilwane_service";
	// The outputs and services of the destinations after the first.
	for (int n = 2; n <= kMaxDestinations; n++) {
		const QByteArray suffix = "_" + QByteArray::number(n);
		if (OBSOutputAutoRelease(obs_get_output_by_name("stilwane_output" + suffix)))
			*left << "stilwane_output" + suffix;
		if (OBSServiceAutoRelease(obs_get_service_by_name("stilwane_service" + suffix)))
			*left << "stilwane_service" + suffix;
	}
	for (const char *name : {"stilwane_video", "stilwane_audio"})
		if (OBSEncoderAutoRelease(obs_get_encoder_by_name(name)))
			*left << name;
	return left->isEmpty();
}

// Every libobs object the outputs can own; names what is left on stderr. libobs finishes destroying an
// encoder that was still stopping when its last reference went a moment later, on the encoder's own
// thread: the names get that moment.
inline bool noOutputObjects(VerticalOutput *out)
{
	QStringList left;
	if (out->streamOutput() || out->recordingOutput() || out->replayOutput())
		left << "output handle";
	if (out->videoEncoder() || out->audioEncoder())
		left << "encoder handle";
	if (out->streamService())
		left << "service handle";
	QStringList named;
	if (!ObsTestEnv::waitUntil([&named] { return namesGone(&named); }, 3000))
		left << named;
	if (!left.isEmpty())
		qWarning("still alive: %s", qPrintable(left.join(", ")));
	return left.isEmpty();
}

// Seconds of media ffprobe finds in a file; -1 when ffprobe is missing, 0 when it cannot read the file.
inline double probedSeconds(const QString &path)
{
	const QString ffprobe = QStandardPaths::findExecutable("ffprobe");
	if (ffprobe.isEmpty())
		return -1;
	QProcess probe;
	probe.start(ffprobe, {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
	if (!probe.waitForFinished(15000)) {
		probe.kill();
		probe.waitForFinished();
		return 0;
	}
	return QString::fromUtf8(probe.readAllStandardOutput()).trimmed().toDouble();
}

// Hands reports of an output that is gone (its generation) to the object, as a late libobs thread
// would.
inline void deliverStaleReports(VerticalOutput *out, VerticalOutput::OutputKind kind, uint64_t generation,
				std::initializer_list<VerticalOutput::ReportType> types)
{
	for (auto type : types) {
		VerticalOutput::Report late;
		late.kind = kind;
		late.generation = generation;
		late.type = type;
		out->applyReport(late);
	}
}

// A configuration and a vertical canvas of their own per test; a small canvas keeps x264 quick.
class Fixture : public PluginFixture {
public:
	CanvasManager *m = CanvasManager::instance();
	VerticalOutput *out = VerticalOutput::instance();

	void init()
	{
		freshConfig();
		config().width = 270;
		config().height = 480;
		config().recordingDirectory = (dir.path() + "/media").toStdString();
		ObsTestEnv::clearLog();
		m->loadFromCollection(nullptr);
		m->setStudioMode(false);
	}

	void cleanup()
	{
		out->stopAll();
		// Reports the stops queued meet no output any more.
		ObsTestEnv::pump(50);
		m->releaseCanvas();
		fe.reset();
	}

	QString mediaDir() const { return dir.path() + "/media"; }
};

} // namespace outputtest
