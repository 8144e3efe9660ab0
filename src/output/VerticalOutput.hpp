#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <obs.hpp>

// Everything that leaves the plug-in as encoded media: the vertical stream, the vertical recording and
// the vertical replay buffer, and the one video/audio encoder pair the three share. One per process,
// never destroyed. State lives on the user-interface thread; libobs reports come from libobs threads
// and are queued to it, carrying a generation so that reports of a torn-down output are dropped.
class VerticalOutput : public QObject {
	Q_OBJECT

public:
	enum OutputKind { KindStream = 0, KindRecording = 1, KindReplay = 2 };
	enum StreamState {
		StreamIdle = 0,
		StreamConnecting = 1,
		StreamLive = 2,
		StreamReconnecting = 3,
		StreamStopping = 4
	};
	enum FileState { FileIdle = 0, FileStarting = 1, FileActive = 2, FileStopping = 3 };

	// What a libobs signal handler hands to the user-interface thread.
	enum ReportType { ReportStart, ReportStop, ReportStarting, ReportStopping, ReportReconnecting };
	struct Report {
		OutputKind kind = KindStream;
		uint64_t generation = 0;
		ReportType type = ReportStart;
		uint64_t time = 0; // libobs clock (ns) when "start" fired
		int code = 0;      // "stop"
		QString error;     // "stop"
	};

	static VerticalOutput *instance();

	// Registered H.264 video encoders that are neither deprecated nor internal, as (id, display name),
	// in libobs's order. Any thread.
	static QList<QPair<QString, QString>> availableH264Encoders();
	// The first registered encoder of the hardware-first preference list, else the first available
	// H.264 encoder, else "obs_x264". Any thread.
	static QString preferredEncoderId();
	static bool encoderTypeExists(const QString &id);
	static bool outputTypeExists(const QString &id);

	// Stream. error (optional) receives the reason of a failure.
	bool startStream(QString *error = nullptr);
	void stopStream(bool force = false);
	void stopAll();
	bool ensureEncoders(QString *error = nullptr);
	void releaseIdleEncoders();
	void releaseStreamOutput();

	// Recording and replay buffer.
	bool startRecording(QString *error = nullptr);
	bool startReplayBuffer(QString *error = nullptr);
	void stopRecording(bool force = false);
	void stopReplayBuffer(bool force = false);
	bool saveReplay(QString *error = nullptr);

	// File naming. extension without the dot; directory empty = the configured or the main recording
	// directory. Returns an empty string on failure.
	static QString makeOutputFilePath(const QString &extension, bool replay, QString *error = nullptr,
					  const QString &directory = QString());
	// The first of "base.ext", "base (2).ext", "base (3).ext", ... that does not exist in directory.
	static QString uniqueFilePath(const QString &directory, const QString &baseName, const QString &extension);
	// The container and the libobs output type the current configuration asks for.
	static QString recordingExtension();
	static QString recordingOutputType();
	// The same choice for a given "recording_format", and whether libobs registers "mp4_output": mp4
	// only through OBS's native muxer, everything else (and mp4 without it) as mkv through ffmpeg_muxer.
	// The replay buffer always uses "replay_buffer" with the same extension.
	struct FileContainer {
		QString extension;
		QString recordingType;
	};
	static FileContainer containerFor(const QString &format, bool mp4Registered);

	bool hasStreamKey() const;
	// The text with the configured stream key blotted out: libobs's errors may quote the URL they used,
	// and the key is the one secret of the configuration.
	static QString withoutStreamKey(const QString &text);
	bool isStreamActive() const;
	bool isAnyOutputBusy() const;
	StreamState streamState() const { return stream; }
	FileState recordingState() const { return recording.state; }
	FileState replayState() const { return replay.state; }
	int64_t recordingElapsedMs() const;
	// Milliseconds since the stream went Live (also through reconnects); 0 when not streaming.
	int64_t streamElapsedMs() const;
	QString lastRecordingPath() const { return recording.lastSavedPath; }
	QString lastReplayPath() const { return replay.lastSavedPath; }
	QString plannedRecordingPath() const { return recording.plannedPath; }
	QString plannedReplayPath() const { return replay.plannedPath; }
	uint64_t framesDropped() const;
	uint64_t totalFrames() const;
	uint64_t totalBytes() const;

	// The live objects, for tests and diagnostics; null when absent. No new reference.
	obs_output_t *streamOutput() const { return streamOut; }
	obs_output_t *recordingOutput() const { return recording.output; }
	obs_output_t *replayOutput() const { return replay.output; }
	obs_encoder_t *videoEncoder() const { return videoEnc; }
	obs_encoder_t *audioEncoder() const { return audioEnc; }
	obs_service_t *streamService() const { return service; }
	uint64_t generation(OutputKind kind) const;

	// Applies a libobs report on the user-interface thread; a report whose output is gone or whose
	// generation is not current is dropped. The signal handlers post here; tests call it directly.
	void applyReport(const Report &report);

	// Lets tests stand in for "an output is running" without starting one; nullopt restores the
	// real answer.
	static void setBusyOverrideForTests(std::optional<bool> busy);

	static const char *streamStateName(int state);
	static const char *fileStateName(int state);

signals:
	void stateChanged(int state);
	void stopped(int code, QString error);
	void recordingStateChanged(int state);
	void recordingStopped(int code, QString error);
	void recordingSaved(QString path);
	void replayStateChanged(int state);
	void replayStopped(int code, QString error);
	void replaySaved(QString path);

private:
	// The data pointer of every libobs signal connection of one started output: what its reports
	// need to prove they are current. A new one per start; the output does not hold a reference.
	struct OutputCallbackContext {
		VerticalOutput *owner = nullptr;
		OutputKind kind = KindStream;
		uint64_t generation = 0;
		obs_output_t *output = nullptr;
		// The state signals; "saved" is connected apart, with a reference on the handler.
		std::vector<OBSSignal> connections;
	};

	struct FileOutputSlot {
		obs_output_t *output = nullptr; // owned
		FileState state = FileIdle;
		QString plannedPath;
		QString lastSavedPath;
		uint64_t startTime = 0;
		uint64_t generation = 0;
		OutputCallbackContext *context = nullptr; // owned
	};

	VerticalOutput() = default;

	void setStreamState(StreamState state);
	void setFileState(OutputKind kind, FileState state);
	FileOutputSlot &slot(OutputKind kind) { return kind == KindRecording ? recording : replay; }
	bool startFileOutput(OutputKind kind, QString *error);
	void stopFileOutput(OutputKind kind, bool force);
	void tearDownSlot(OutputKind kind);
	void applyStreamReport(const Report &report);
	void applyFileReport(const Report &report);
	void fileStopped(OutputKind kind, int code, const QString &error);
	void joinStopWorker();
	void connectOutputSignals(obs_output_t *output, OutputCallbackContext *context);
	void disconnectOutputSignals(obs_output_t *output, OutputCallbackContext *context);
	void replaySavedReport(const QString &path);
	void removeReplaySaveHotkey(obs_output_t *output);

	// The settings of an "rtmp_common" service for the configured server and key (new reference).
	static obs_data_t *serviceSettings();
	// Copies what the report needs from the connection's context and queues it. Any libobs thread.
	static void postReport(void *data, ReportType type, uint64_t time = 0, int code = 0,
			       const QString &error = QString());

	// libobs callbacks. Any libobs thread.
	static void onStart(void *data, calldata_t *cd);
	static void onStop(void *data, calldata_t *cd);
	static void onStarting(void *data, calldata_t *cd);
	static void onStopping(void *data, calldata_t *cd);
	static void onReconnect(void *data, calldata_t *cd);
	static void onReconnectSuccess(void *data, calldata_t *cd);
	static void onReplaySaved(void *data, calldata_t *cd);
	static void onReplayPacket(obs_output_t *output, struct encoder_packet *packet,
				   struct encoder_packet_time *time, void *param);

	obs_output_t *streamOut = nullptr; // owned
	obs_encoder_t *videoEnc = nullptr; // owned
	obs_encoder_t *audioEnc = nullptr; // owned
	obs_service_t *service = nullptr;  // owned
	StreamState stream = StreamIdle;
	FileOutputSlot recording;
	FileOutputSlot replay;
	uint64_t streamGeneration = 0;
	OutputCallbackContext *streamContext = nullptr; // owned
	std::thread stopWorker;
	uint64_t liveSince = 0; // libobs clock (ns) of the first Live report, 0 while not streaming
	std::mutex mutex;
	QString pendingReplayName; // guarded by mutex
};
