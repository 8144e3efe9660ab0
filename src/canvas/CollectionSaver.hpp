// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

namespace stilwane {

// Saves OBS's scene collection shortly after an edit of the vertical scenes, so that a crash mid-show
// loses nothing, while a burst of edits (a drag, several toggles, a fit and its select) shares one
// save. User-interface thread only.
class CollectionSaver : public QObject {
	Q_OBJECT

public:
	// Time from the first edit of a burst to its save.
	static constexpr int kDelayMs = 300;

	static CollectionSaver *instance();

	// Asks for a save within kDelayMs; requests made before it runs share it.
	void request();
	// Drops a pending save: OBS saves the collection itself when it switches collections or exits.
	void cancel();
	bool pending() const { return timer.isActive(); }

private:
	CollectionSaver();

	QTimer timer;
};

} // namespace stilwane
