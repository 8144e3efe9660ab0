// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <memory>
#include <atomic>
#include <vector>

#include <common/Destinations.hpp>
#include <common/Result.hpp>

#include <obs.hpp>

namespace stilwane {

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

	// Stream: every enabled destination, each on an output of its own sharing the one encoder pair. A
	// destination that already runs is left as it is. A destination that cannot start fails alone: the
	// others start anyway, and the failure names it (when there are several).
	Result startStream();
	// Every destination's output.
	void stopStream(bool force = false);
	void stopAll();

	// One destination, by name (destinationList()); the others are left alone.
	Result startDestination(const QString &name);
	Result stopDestination(const QString &name, bool force = false);

	// What the dock's rows and the remote control show of one destination.
	struct DestinationStatus {
		QString name;
		bool first = false;
		bool enabled = false;
		bool hasKey = false;
		bool hasServer = false;
		int state = 0; // StreamState
		int64_t elapsedMs = 0;
		uint64_t framesDropped = 0;
		uint64_t totalFrames = 0;
		uint64_t totalBytes = 0;
		// Over the time since the previous status of this output was taken (at least a second
		// before), else since it went Live.
		int64_t kbps = 0;
		float congestion = 0.0f;
		// Why it last failed or stopped abnormally, in plain words; empty after a clean stop and from
		// its next start on. Keys blotted out.
		Result error;
	};
	// Every configured destination in order, the first included.
	QList<DestinationStatus> destinationStatuses() const;
	// Enabled destinations (those a stream start starts) and those of them that are Live.
	int enabledDestinationCount() const;
	int liveDestinationCount() const;

	// A forced stop of a stream that is still connecting (or reconnecting) waits for libobs's
	// connection attempt, up to half a minute against a server that never answers: such a stream is
	// stopped and released on a thread of its own instead, holding the canvas whose video its encoders
	// were made for until it is done. User-interface thread.
	size_t backgroundStopCount() const { return backgroundStops.size(); }
	// Waits for the background stops that hold the canvas with this uuid (a collection bringing that
	// canvas back is about to load: libobs keeps uuids unique), or for all of them when empty.
	void finishBackgroundStops(const QString &canvasUuid = QString());
	// Gives held canvases names of their own, so that a canvas the next collection brings can take
	// the usual name. After the old collection was saved.
	void renameHeldCanvases();
	Result ensureEncoders();
	void releaseIdleEncoders();
	void releaseStreamOutput();

	// Recording and replay buffer; a start of one that already runs changes nothing and succeeds.
	Result startRecording();
	Result startReplayBuffer();
	void stopRecording(bool force = false);
	void stopReplayBuffer(bool force = false);
	Result saveReplay();

	// The same, for callers that want only the user's words of a failure in error (optional).
	bool startStream(QString *error);
	bool ensureEncoders(QString *error);
	bool startRecording(QString *error);
	bool startReplayBuffer(QString *error);
	bool saveReplay(QString *error);

	// File naming. extension without the dot; directory empty = the configured or the main recording
	// directory. Returns an empty string on failure, and why in failure (optional).
	static QString makeOutputFilePath(const QString &extension, bool replay, Result *failure = nullptr,
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

	// Some enabled destination has a stream key.
	bool hasStreamKey() const;
	// The text with every configured stream key, and every key a stream output was started with until
	// that output is released, blotted out: libobs's errors may quote the URL they used, and a key may
	// have been changed while the stream ran.
	QString withoutStreamKey(const QString &text) const;
	// Some destination's output is active.
	bool isStreamActive() const;
	bool isAnyOutputBusy() const;
	// All destinations together: Live while one is Live, else Reconnecting, Connecting or Stopping
	// while one is, else Idle. With one destination, its own state.
	StreamState streamState() const { return stream; }
	FileState recordingState() const { return recording.state; }
	FileState replayState() const { return replay.state; }
	int64_t recordingElapsedMs() const;
	// Milliseconds since the lead destination went Live (also through reconnects); 0 when not
	// streaming. The lead is the first destination while it has an output, else the next that has one;
	// the figures below are the lead's too.
	int64_t streamElapsedMs() const;
	QString lastRecordingPath() const { return recording.lastSavedPath; }
	// Why the first destination's stream last ended with an error, in plain words; empty after a clean
	// stop and from the next start on. The failure carries the English words too.
	QString lastStreamError() const { return lastStreamFailure().userText(); }
	Result lastStreamFailure() const;
	// OBS's plain words for one of libobs's output stop codes (OBS_OUTPUT_*).
	static QString stopCodeText(int code);
	static Result stopCodeFailure(int code);
	// Why the last accepted replay save did not end in a file (see replaySaveFailed).
	Result lastReplaySaveFailure() const { return replaySaveFailure; }
	QString lastReplayPath() const { return replay.lastSavedPath; }
	QString plannedRecordingPath() const { return recording.plannedPath; }
	QString plannedReplayPath() const { return replay.plannedPath; }
	uint64_t framesDropped() const;
	uint64_t totalFrames() const;
	uint64_t totalBytes() const;

	// The service type and settings a destination streams through: the first's are those its
	// encoders' settings come from, whatever its server; another YouTube server goes through OBS's
	// YouTube service, any other server is a custom one.
	static OBSDataAutoRelease destinationServiceSettings(const Destination &destination, const char **type);

	// The live objects, for tests and diagnostics; null when absent. No new reference.
	obs_output_t *streamOutput() const;
	obs_output_t *destinationOutput(const QString &name) const;
	obs_output_t *recordingOutput() const { return recording.output.Get(); }
	obs_output_t *replayOutput() const { return replay.output.Get(); }
	obs_encoder_t *videoEncoder() const { return videoEnc.Get(); }
	obs_encoder_t *audioEncoder() const { return audioEnc.Get(); }
	obs_service_t *streamService() const;
	obs_service_t *destinationService(const QString &name) const;
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
	// The aggregate stream state (streamState()) changed.
	void stateChanged(int state);
	// The first destination's stream ended ("stop" from libobs); not after a forced stop.
	void stopped(int code, QString error);
	// One destination's state changed, the first's included.
	void destinationStateChanged(QString name, int state);
	// A destination other than the first ended, as stopped() does for the first.
	void destinationStopped(QString name, int code, QString error);
	// A destination could not start; error in the user's words.
	void destinationStartFailed(QString name, QString error);
	void recordingStateChanged(int state);
	void recordingStopped(int code, QString error);
	void recordingSaved(QString path);
	void replayStateChanged(int state);
	void replayStopped(int code, QString error);
	void replaySaved(QString path);
	// The configured video encoder (a hardware one) could not open: this start runs on obs_x264.
	void encoderFallback(QString encoderId);
	// A replay save that was accepted did not end in a file (written nowhere, never finished, or the
	// buffer stopped first); the reason in plain words.
	void replaySaveFailed(QString error);

private:
	// After a start failed with a video encoder other than obs_x264 that nothing else uses: asks the
	// next ensureEncoders for obs_x264, logs and announces it. False when there is nothing to fall back
	// from (then the start's own error stands).
	bool fallBackToSoftware();
	// How long a replay save may take from the request to libobs's "saved": writing three minutes of
	// high-bitrate video to a slow disk included.
	static constexpr int kReplaySaveWatchMs = 90000;
	void failReplaySave(const Result &reason);
	// The data pointer of every libobs signal connection of one started output: what its reports
	// need to prove they are current. A new one per start, released after the output; the output is
	// not held by it.
	struct OutputCallbackContext {
		OutputCallbackContext(VerticalOutput *owner, OutputKind kind, uint64_t generation, obs_output_t *output)
			: owner(owner),
			  kind(kind),
			  generation(generation),
			  output(output)
		{
		}
		VerticalOutput *owner;
		OutputKind kind;
		uint64_t generation;
		obs_output_t *output;
		// The state signals, disconnected before the output is released.
		std::vector<OBSSignal> connections;
		// The replay buffer's "saved", disconnected with the context: after the release, which may
		// wait for a save that still signals.
		OBSSignal saved;
		// A stream's connection attempt ended ("start" or "stop"), and whether it connected. Set on
		// libobs's threads as the signals fire, read by the threads that stop a connecting stream.
		std::atomic<bool> attemptEnded{false};
		std::atomic<bool> connected{false};
	};
	// Stops a stream output that may still be connecting, on a thread that is not the user
	// interface's. libobs's RTMP output joins its connect thread in a stop while that thread, when
	// its attempt fails on its own, detaches itself: the two at once crash the process. So the stop
	// waits for the attempt to end (bounded), and an output whose attempt failed is not stopped.
	static void stopWhenAttemptEnds(obs_output_t *output, const OutputCallbackContext *context);

	struct FileOutputSlot {
		OBSOutputAutoRelease output;
		FileState state = FileIdle;
		QString plannedPath;
		QString lastSavedPath;
		uint64_t startTime = 0;
		uint64_t generation = 0;
		std::unique_ptr<OutputCallbackContext> context;
	};

	VerticalOutput();

	// One destination's stream output while it exists, with what it needs to be stopped and told
	// apart. Kept after the output is gone, for its last error, until its name leaves the list.
	struct StreamSlot {
		QString name;
		bool first = false;
		OBSOutputAutoRelease output;
		OBSServiceAutoRelease service;
		StreamState state = StreamIdle;
		// Taken from streamGeneration at each start and release: unique to one output's life.
		uint64_t generation = 0;
		std::unique_ptr<OutputCallbackContext> context;
		std::thread stopWorker;
		// The keys the output was started with; cleared when it is released.
		QStringList startedKeys;
		uint64_t liveSince = 0; // libobs clock (ns) of the first Live report, 0 while not streaming
		Result error;
		// The bitrate and the byte count and time (ns) it was last measured at; cleared on release.
		mutable int64_t kbps = 0;
		mutable uint64_t sampleBytes = 0;
		mutable uint64_t sampleNs = 0;
	};

	// The slot's bitrate, measured again when the last measurement is a second old or more.
	static int64_t sampleBitrate(const StreamSlot &s, uint64_t bytes, uint64_t now);
	StreamSlot *findSlot(const QString &name, bool first);
	const StreamSlot *findSlot(const QString &name, bool first) const;
	StreamSlot *slotByGeneration(uint64_t generation);
	StreamSlot &slotFor(const Destination &destination);
	const StreamSlot *leadSlot() const;
	const StreamSlot *slotOf(const Destination &destination) const;
	// Slots without an output whose destination has left the list.
	void pruneSlots();
	Result startSlot(const Destination &destination, int position);
	void stopSlot(StreamSlot &s, bool force);
	void releaseSlot(StreamSlot &s);
	void joinStopWorker(StreamSlot &s);
	void handOffStream(StreamSlot &s);
	void setSlotState(StreamSlot &s, StreamState state);
	void updateStreamState();
	void setFileState(OutputKind kind, FileState state);
	FileOutputSlot &slot(OutputKind kind) { return kind == KindRecording ? recording : replay; }
	Result startFileOutput(OutputKind kind);
	void stopFileOutput(OutputKind kind, bool force);
	void tearDownSlot(OutputKind kind);
	void applyStreamReport(const Report &report);
	void applyFileReport(const Report &report);
	void fileStopped(OutputKind kind, int code, const QString &error);
	void reapBackgroundStops();
	void connectOutputSignals(obs_output_t *output, OutputCallbackContext *context);
	static void disconnectOutputSignals(OutputCallbackContext *context);
	void replaySavedReport(const QString &path);
	void removeReplaySaveHotkey(obs_output_t *output);

	// The settings of an "rtmp_common" service for the configured server and key.
	static OBSDataAutoRelease serviceSettings();

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

	// Released in this order: the outputs before the service and the encoders they use.
	std::vector<std::unique_ptr<StreamSlot>> streams;
	OBSEncoderAutoRelease videoEnc;
	OBSEncoderAutoRelease audioEnc;
	StreamState stream = StreamIdle;
	FileOutputSlot recording;
	FileOutputSlot replay;
	uint64_t streamGeneration = 0;
	struct BackgroundStop {
		std::thread thread;
		OBSCanvas canvas;
		QString canvasUuid;
		std::shared_ptr<std::atomic<bool>> done;
	};
	std::vector<BackgroundStop> backgroundStops;
	std::mutex mutex;
	QString pendingReplayName; // guarded by mutex
	// The id the current (or last) video encoder was made with, and the one-start software choice.
	QString videoEncoderId;
	bool softwareOnly = false;
	QStringList fallbackLogged;
	// A replay save accepted and not yet reported either way; the watch gives up on it after a while.
	bool replaySaveOutstanding = false;
	// Counts accepted saves, so that a check queued for one save leaves a later one alone.
	uint64_t replaySaveSerial = 0;
	QTimer replaySaveWatch;
	// The last replay teardown dropped a save that libobs had not been handed yet.
	bool replaySaveDropped = false;
	Result replaySaveFailure;
};

} // namespace stilwane
