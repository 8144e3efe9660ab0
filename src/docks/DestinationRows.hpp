// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <output/VerticalOutput.hpp>

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace stilwane {

class IconButton;

// One compact line per stream destination under the output dock's status line: a start/stop button
// of its own, its name, its state and, while it has an output, its bitrate, dropped frames and what
// went wrong. Out of sight while only one destination is configured, so that a user with one sees
// the dock as it always was. Never wider than the dock gives it: every text is elided.
class DestinationRows : public QWidget {
	Q_OBJECT

public:
	explicit DestinationRows(QWidget *parent = nullptr);
	~DestinationRows() override;

	// Matches the rows to the configured destinations and their states; the bitrate is only sampled by
	// the one-second refresh. The output's destination signals call it; the dock, on changes of the
	// settings or the canvas.
	void rebuild();
	// The refresh each second while a destination is not Idle, which also samples the bitrate; tests
	// call it directly.
	void tick();

	// For tests and diagnostics, by destination name; null or empty for a name without a row.
	int rowCount() const { return int(rows.size()); }
	QStringList rowNames() const;
	IconButton *button(const QString &name) const;
	QString stateText(const QString &name) const;
	// Bitrate and dropped frames as shown, empty without an output.
	QString figuresText(const QString &name) const;
	QString errorText(const QString &name) const;
	// The elided line as the row shows it, and its tool tip.
	QString shownText(const QString &name) const;
	QString toolTipText(const QString &name) const;
	QTimer *refreshTimer() { return &timer; }

	// Tests stand in for the destinations' statuses (a stream that moves bytes); nullptr restores the
	// output's own.
	static void setStatusSourceForTests(std::function<QList<VerticalOutput::DestinationStatus>()> source);

signals:
	// A row's start failed; the text in the user's words, ready for the dock's error box.
	void startFailed(QString text);

protected:
	bool eventFilter(QObject *watched, QEvent *event) override;
	void changeEvent(QEvent *event) override;

private:
	struct Row {
		QString name;
		QWidget *widget = nullptr;
		IconButton *button = nullptr;
		QLabel *nameLabel = nullptr;
		QLabel *infoLabel = nullptr;
		int state = VerticalOutput::StreamIdle;
		QString stateText;
		QString figures;
		QString error;
		// The last bitrate sample: bytes and when, on the rows' clock; time < 0 before the first.
		int64_t lastBytes = 0;
		int64_t lastTime = -1;
		int64_t kbps = 0;
	};

	static QList<VerticalOutput::DestinationStatus> statuses();
	void refreshRows(bool sample);
	void makeRows(const QList<VerticalOutput::DestinationStatus> &list);
	void fill(Row &row, const VerticalOutput::DestinationStatus &status, bool sample);
	void elide(Row &row);
	void toggle(const QString &name);
	const Row *find(const QString &name) const;

	QVBoxLayout *rowsLayout = nullptr;
	std::vector<std::unique_ptr<Row>> rows;
	QTimer timer;
	QElapsedTimer clock;
};

} // namespace stilwane
