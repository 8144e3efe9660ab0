// SPDX-License-Identifier: GPL-2.0-or-later
#include <output/VerticalOutput.hpp>

#include <common/ConfigRecord.hpp>

#include <util/platform.h>

#include <algorithm>

namespace stilwane {

OBSDataAutoRelease VerticalOutput::destinationServiceSettings(const Destination &destination, const char **type)
{
	// The first destination's service is the one the encoders' settings come from (ensureEncoders):
	// it stays as it always was, whatever its server.
	if (destination.first) {
		*type = "rtmp_common";
		return serviceSettings();
	}
	OBSDataAutoRelease settings = obs_data_create();
	if (isYouTubeServer(destination.server)) {
		*type = "rtmp_common";
		obs_data_set_string(settings, "service", "YouTube - RTMPS");
	} else {
		*type = "rtmp_custom";
	}
	obs_data_set_string(settings, "server", destination.server.toUtf8().constData());
	obs_data_set_string(settings, "key", destination.key.toUtf8().constData());
	return settings;
}

VerticalOutput::StreamSlot *VerticalOutput::findSlot(const QString &name, bool first)
{
	for (const auto &s : streams) {
		if (first ? s->first : (!s->first && s->name == name))
			return s.get();
	}
	return nullptr;
}

const VerticalOutput::StreamSlot *VerticalOutput::findSlot(const QString &name, bool first) const
{
	return const_cast<VerticalOutput *>(this)->findSlot(name, first);
}

VerticalOutput::StreamSlot *VerticalOutput::slotByGeneration(uint64_t generation)
{
	for (const auto &s : streams) {
		if (s->output && s->generation == generation)
			return s.get();
	}
	return nullptr;
}

VerticalOutput::StreamSlot &VerticalOutput::slotFor(const Destination &destination)
{
	StreamSlot *s = findSlot(destination.name, destination.first);
	if (!s) {
		streams.push_back(std::make_unique<StreamSlot>());
		s = streams.back().get();
		s->first = destination.first;
		s->name = destination.name;
	}
	// The first destination is named after its server, which may have changed since.
	if (s->first && s->state == StreamIdle)
		s->name = destination.name;
	return *s;
}

const VerticalOutput::StreamSlot *VerticalOutput::slotOf(const Destination &destination) const
{
	return findSlot(destination.name, destination.first);
}

const VerticalOutput::StreamSlot *VerticalOutput::leadSlot() const
{
	const StreamSlot *first = findSlot(QString(), true);
	if (first && first->output)
		return first;
	for (const Destination &d : destinationList(config())) {
		const StreamSlot *s = slotOf(d);
		if (s && s->output)
			return s;
	}
	// One removed from the list while it streams.
	for (const auto &s : streams) {
		if (s->output)
			return s.get();
	}
	return nullptr;
}

void VerticalOutput::pruneSlots()
{
	const QList<Destination> list = destinationList(config());
	std::erase_if(streams, [&](const std::unique_ptr<StreamSlot> &s) {
		if (s->output || s->stopWorker.joinable() || s->first)
			return false;
		return std::none_of(list.begin(), list.end(),
				    [&](const Destination &d) { return !d.first && d.name == s->name; });
	});
}

void VerticalOutput::setSlotState(StreamSlot &s, StreamState state)
{
	if (s.state == state)
		return;
	s.state = state;
	if (state == StreamIdle)
		s.liveSince = 0;
	emit destinationStateChanged(s.name, state);
	updateStreamState();
}

void VerticalOutput::updateStreamState()
{
	// The most hopeful state wins: a stream that is Live somewhere is live.
	static constexpr StreamState kOrder[] = {StreamLive, StreamReconnecting, StreamConnecting, StreamStopping};
	StreamState aggregate = StreamIdle;
	for (StreamState candidate : kOrder) {
		if (std::any_of(streams.begin(), streams.end(), [&](const auto &s) { return s->state == candidate; })) {
			aggregate = candidate;
			break;
		}
	}
	if (aggregate == stream)
		return;
	stream = aggregate;
	emit stateChanged(aggregate);
}

int64_t VerticalOutput::sampleBitrate(const StreamSlot &s, uint64_t bytes, uint64_t now)
{
	constexpr uint64_t kSecond = 1000000000;
	if (s.sampleNs && now < s.sampleNs + kSecond)
		return s.kbps;
	const uint64_t fromBytes = s.sampleNs ? s.sampleBytes : 0;
	const uint64_t fromNs = s.sampleNs ? s.sampleNs : s.liveSince;
	// bits per millisecond are kilobits per second
	if (fromNs && now > fromNs && bytes >= fromBytes)
		s.kbps = int64_t((bytes - fromBytes) * 8 * 1000000 / (now - fromNs));
	s.sampleBytes = bytes;
	s.sampleNs = now;
	return s.kbps;
}

QList<VerticalOutput::DestinationStatus> VerticalOutput::destinationStatuses() const
{
	QList<DestinationStatus> list;
	const uint64_t now = os_gettime_ns();
	for (const Destination &d : destinationList(config())) {
		DestinationStatus status;
		status.name = d.name;
		status.first = d.first;
		status.enabled = d.enabled;
		status.hasKey = !d.key.isEmpty();
		status.hasServer = !d.server.isEmpty();
		if (const StreamSlot *s = slotOf(d)) {
			status.state = s->state;
			status.error = s->error;
			if (s->liveSince && now > s->liveSince && s->state != StreamIdle)
				status.elapsedMs = int64_t((now - s->liveSince) / 1000000);
			if (s->output) {
				status.framesDropped = uint64_t(std::max(0, obs_output_get_frames_dropped(s->output)));
				status.totalFrames = uint64_t(std::max(0, obs_output_get_total_frames(s->output)));
				status.totalBytes = obs_output_get_total_bytes(s->output);
				status.kbps = sampleBitrate(*s, status.totalBytes, now);
				status.congestion = obs_output_get_congestion(s->output);
			}
		}
		list.append(status);
	}
	return list;
}

int VerticalOutput::enabledDestinationCount() const
{
	const QList<Destination> list = destinationList(config());
	return int(std::count_if(list.begin(), list.end(), [](const Destination &d) { return d.enabled; }));
}

int VerticalOutput::liveDestinationCount() const
{
	return int(std::count_if(streams.begin(), streams.end(), [](const auto &s) { return s->state == StreamLive; }));
}

Result VerticalOutput::lastStreamFailure() const
{
	const StreamSlot *s = findSlot(QString(), true);
	return s ? s->error : Result();
}

obs_output_t *VerticalOutput::streamOutput() const
{
	const StreamSlot *s = leadSlot();
	return s ? s->output.Get() : nullptr;
}

obs_service_t *VerticalOutput::streamService() const
{
	const StreamSlot *s = leadSlot();
	return s ? s->service.Get() : nullptr;
}

obs_output_t *VerticalOutput::destinationOutput(const QString &name) const
{
	const int index = findDestination(config(), name);
	if (index < 0)
		return nullptr;
	const StreamSlot *s = slotOf(destinationList(config())[index]);
	return s ? s->output.Get() : nullptr;
}

obs_service_t *VerticalOutput::destinationService(const QString &name) const
{
	const int index = findDestination(config(), name);
	if (index < 0)
		return nullptr;
	const StreamSlot *s = slotOf(destinationList(config())[index]);
	return s ? s->service.Get() : nullptr;
}

} // namespace stilwane
