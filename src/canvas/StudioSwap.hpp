// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>

namespace stilwane {

// The swap of a studio-mode transition: when the transition from the preview to the program ends, the
// scene that was on program goes into the preview (OBS's "SwapScenesMode"). Every switch counts a
// generation, so that the end report of a transition started before a newer switch is recognised as
// stale. Holds no libobs object: the manager looks the target scene up when the swap finishes.
// User-interface thread, except generation(), which libobs signal handlers read.
class StudioSwap {
public:
	// A switch outside a studio swap: the end reports of earlier transitions become stale.
	void countSwitch() { generation_++; }
	// A studio transition starts; target is the scene to put into the preview at its end (empty for
	// none). Returns the generation its end report must carry.
	uint64_t begin(const QString &target);
	// The transition of a swap just begun did not start: nothing waits for its end.
	void cancel();
	// A running swap ends without its swap: the new generation makes its late end report stale.
	void abandon();
	// The transition of that generation ended: returns the scene to put into the preview, or nothing
	// when the report is stale, no swap runs or the swap has no target.
	QString finish(uint64_t forGeneration);
	// The scene of that uuid is gone: a running swap no longer puts it into the preview.
	void forgetTarget(const QString &uuid);
	// True from begin() to finish(), cancel() or abandon().
	bool inProgress() const { return running; }
	// The generation of the newest switch; safe on any thread.
	uint64_t generation() const { return generation_.load(); }

private:
	// A studio transition runs and its end has not been handled yet.
	bool running = false;
	// Uuid of the scene the swap puts into the preview; empty for none.
	QString target;
	// Counts switches and abandoned swaps; read by libobs signal handlers, hence atomic.
	std::atomic<uint64_t> generation_{0};
};

} // namespace stilwane
