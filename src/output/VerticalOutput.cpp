#include <output/VerticalOutput.hpp>

#include <plugin/ConfigRecord.hpp>
#include <plugin/Module.hpp>

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
		*error = translate("Output.Unavailable");
	return false;
}

// Nothing runs yet, so there is nothing to stop.
void VerticalOutput::stopStream(bool) {}

void VerticalOutput::stopAll() {}
