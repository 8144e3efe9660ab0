#include <output/VerticalOutput.hpp>

#include <plugin/ConfigRecord.hpp>
#include <plugin/Module.hpp>

// Temporary stand-ins until the outputs are built: everything links, nothing starts.

VerticalOutput *VerticalOutput::instance()
{
	static VerticalOutput output;
	return &output;
}

namespace {
std::optional<bool> busyOverride;
} // namespace

void VerticalOutput::setBusyOverrideForTests(std::optional<bool> busy)
{
	busyOverride = busy;
}

bool VerticalOutput::isAnyOutputBusy() const
{
	if (busyOverride)
		return *busyOverride;
	return streamState() != StreamIdle || recordingState() != FileIdle || replayState() != FileIdle;
}

bool VerticalOutput::hasStreamKey() const
{
	return !config().key.empty();
}

bool VerticalOutput::startStream(QString *error)
{
	if (error)
		*error = QStringLiteral("not built yet");
	return false;
}
void VerticalOutput::stopStream(bool) {}
void VerticalOutput::stopAll() {}
bool VerticalOutput::ensureEncoders(QString *)
{
	return false;
}
void VerticalOutput::releaseIdleEncoders() {}
void VerticalOutput::releaseStreamOutput() {}
bool VerticalOutput::startRecording(QString *)
{
	return false;
}
bool VerticalOutput::startReplayBuffer(QString *)
{
	return false;
}
void VerticalOutput::stopRecording(bool) {}
void VerticalOutput::stopReplayBuffer(bool) {}
bool VerticalOutput::saveReplay(QString *)
{
	return false;
}
QString VerticalOutput::makeOutputFilePath(const QString &, bool, QString *, const QString &)
{
	return {};
}
QString VerticalOutput::uniqueFilePath(const QString &, const QString &, const QString &)
{
	return {};
}
QString VerticalOutput::recordingExtension()
{
	return "mp4";
}
QString VerticalOutput::recordingOutputType()
{
	return "mp4_output";
}
bool VerticalOutput::isStreamActive() const
{
	return false;
}
int64_t VerticalOutput::recordingElapsedMs() const
{
	return 0;
}
int64_t VerticalOutput::streamElapsedMs() const
{
	return 0;
}
uint64_t VerticalOutput::framesDropped() const
{
	return 0;
}
uint64_t VerticalOutput::totalFrames() const
{
	return 0;
}
uint64_t VerticalOutput::totalBytes() const
{
	return 0;
}
uint64_t VerticalOutput::generation(OutputKind) const
{
	return 0;
}
void VerticalOutput::applyReport(const Report &) {}
const char *VerticalOutput::streamStateName(int)
{
	return "Idle";
}
const char *VerticalOutput::fileStateName(int)
{
	return "Idle";
}
