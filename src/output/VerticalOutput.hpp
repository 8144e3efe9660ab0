#pragma once

#include <QObject>
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
