#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <optional>

// The vertical stream, recording and replay buffer. This version has no outputs of its own yet:
// every output stays Idle and a start is refused with a reason.
class VerticalOutput : public QObject {
	Q_OBJECT

public:
	enum StreamState {
		StreamIdle = 0,
		StreamConnecting = 1,
		StreamLive = 2,
		StreamReconnecting = 3,
		StreamStopping = 4
	};
	enum FileState { FileIdle = 0, FileStarting = 1, FileActive = 2, FileStopping = 3 };

	static VerticalOutput *instance();

	// Registered H.264 video encoders that are neither deprecated nor internal, as (id, display name),
	// in libobs's order. Any thread.
	static QList<QPair<QString, QString>> availableH264Encoders();
	// The first registered encoder of the hardware-first preference list, else the first available
	// H.264 encoder, else "obs_x264". Any thread.
	static QString preferredEncoderId();
	static bool encoderTypeExists(const QString &id);
	static bool outputTypeExists(const QString &id);

	StreamState streamState() const { return StreamIdle; }
	FileState recordingState() const { return FileIdle; }
	FileState replayState() const { return FileIdle; }
	bool isAnyOutputBusy() const;
	bool hasStreamKey() const;

	bool startStream(QString *error);
	void stopStream(bool force = false);
	void stopAll();

	// Lets tests stand in for "an output is running" without starting one; nullopt restores the
	// real answer.
	static void setBusyOverrideForTests(std::optional<bool> busy);

private:
	VerticalOutput() = default;
};
