// SPDX-License-Identifier: GPL-2.0-or-later
#include <docks/DestinationRows.hpp>

#include <docks/OutputDock.hpp>
#include <widgets/IconButton.hpp>
#include <common/Module.hpp>

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace stilwane {

namespace {

std::function<QList<VerticalOutput::DestinationStatus>()> statusOverride;

const QString kSeparator = QStringLiteral(" \u30FB ");

QLabel *makeLabel(QWidget *parent, int stretchFactor, QHBoxLayout *layout)
{
	auto *label = new QLabel(parent);
	label->setTextFormat(Qt::PlainText);
	label->setWordWrap(false);
	label->setMinimumWidth(0);
	// Whatever the text, the label takes the width the row gives it: the dock never grows for a long
	// name or error.
	label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
	layout->addWidget(label, stretchFactor);
	return label;
}

} // namespace

DestinationRows::DestinationRows(QWidget *parent) : QWidget(parent)
{
	setObjectName("stilwane_destination_rows");
	setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
	setMinimumWidth(0);
	rowsLayout = new QVBoxLayout(this);
	rowsLayout->setContentsMargins(0, 0, 0, 0);
	rowsLayout->setSpacing(0);
	QFont small = font();
	if (small.pointSizeF() > 0) {
		small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1));
		setFont(small);
	}
	hide();

	timer.setInterval(1000);
	clock.start();
	VerticalOutput *output = VerticalOutput::instance();
	connect(&timer, &QTimer::timeout, this, &DestinationRows::tick);
	connect(output, &VerticalOutput::destinationStateChanged, this, &DestinationRows::rebuild);
	connect(output, &VerticalOutput::destinationStopped, this, &DestinationRows::rebuild);
	connect(output, &VerticalOutput::destinationStartFailed, this, &DestinationRows::rebuild);
	rebuild();
}

DestinationRows::~DestinationRows() = default;

void DestinationRows::setStatusSourceForTests(std::function<QList<VerticalOutput::DestinationStatus>()> source)
{
	statusOverride = std::move(source);
}

QList<VerticalOutput::DestinationStatus> DestinationRows::statuses()
{
	return statusOverride ? statusOverride() : VerticalOutput::instance()->destinationStatuses();
}

void DestinationRows::rebuild()
{
	refreshRows(false);
}

void DestinationRows::tick()
{
	refreshRows(true);
}

void DestinationRows::refreshRows(bool sample)
{
	const QList<VerticalOutput::DestinationStatus> list = statuses();
	// One destination: the dock as it was before there could be more.
	if (list.size() <= 1) {
		timer.stop();
		makeRows({});
		hide();
		return;
	}
	bool same = list.size() == qsizetype(rows.size());
	for (qsizetype i = 0; same && i < list.size(); i++)
		same = rows[size_t(i)]->name == list[i].name;
	if (!same)
		makeRows(list);
	bool anyRunning = false;
	for (qsizetype i = 0; i < list.size(); i++) {
		fill(*rows[size_t(i)], list[i], sample);
		anyRunning = anyRunning || list[i].state != VerticalOutput::StreamIdle;
	}
	if (anyRunning && !timer.isActive())
		timer.start();
	else if (!anyRunning)
		timer.stop();
	show();
}

void DestinationRows::makeRows(const QList<VerticalOutput::DestinationStatus> &list)
{
	// Later: the rebuild may run inside a row button's own click.
	for (const auto &row : rows) {
		rowsLayout->removeWidget(row->widget);
		row->widget->hide();
		row->widget->deleteLater();
	}
	rows.clear();
	for (const VerticalOutput::DestinationStatus &status : list) {
		auto row = std::make_unique<Row>();
		row->name = status.name;
		row->widget = new QWidget(this);
		row->widget->setObjectName("stilwane_destination_row");
		row->widget->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
		auto *line = new QHBoxLayout(row->widget);
		line->setContentsMargins(0, 0, 0, 0);
		line->setSpacing(4);
		row->button = new IconButton(row->widget, translate("Output.Destination.Start").arg(status.name),
					     "icon-media-play");
		row->button->setObjectName("stilwane_destination_button");
		line->addWidget(row->button);
		row->nameLabel = makeLabel(row->widget, 1, line);
		row->infoLabel = makeLabel(row->widget, 3, line);
		row->nameLabel->installEventFilter(this);
		row->infoLabel->installEventFilter(this);
		const QString name = status.name;
		connect(row->button, &QToolButton::clicked, this, [this, name] { toggle(name); });
		rowsLayout->addWidget(row->widget);
		rows.push_back(std::move(row));
	}
}

void DestinationRows::fill(Row &row, const VerticalOutput::DestinationStatus &status, bool sample)
{
	row.state = status.state;
	row.stateText = translate(OutputDock::streamStatusKey(status.state));
	// An output exists from Connecting to the end of Stopping: only then are there figures.
	if (status.state != VerticalOutput::StreamIdle) {
		if (sample) {
			// Bits per millisecond are kbit/s; the first sample has nothing to compare with.
			const int64_t now = clock.elapsed();
			const int64_t bytes = int64_t(status.totalBytes);
			if (row.lastTime >= 0 && now > row.lastTime && bytes >= row.lastBytes)
				row.kbps = (bytes - row.lastBytes) * 8 / (now - row.lastTime);
			row.lastBytes = bytes;
			row.lastTime = now;
		}
		row.figures = translate("Output.Destination.Bitrate").arg(row.kbps) + kSeparator +
			      translate("Output.Destination.Dropped").arg(status.framesDropped);
	} else {
		row.figures.clear();
		row.lastBytes = 0;
		row.lastTime = -1;
		row.kbps = 0;
	}
	row.error = status.error.ok() ? QString() : status.error.userText();

	const bool idle = status.state == VerticalOutput::StreamIdle;
	const QString action =
		translate(idle ? "Output.Destination.Start" : "Output.Destination.Stop").arg(status.name);
	row.button->setText(action);
	row.button->setToolTip(action);
	row.button->setAccessibleName(action);
	setThemeClass(row.button, idle ? "icon-media-play" : "icon-media-stop");
	row.button->setEnabled(status.state != VerticalOutput::StreamStopping);

	// A destination that a stream start leaves out reads as such.
	setThemeClass(row.nameLabel, status.enabled ? QString() : QStringLiteral("text-muted"));
	setThemeClass(row.infoLabel, row.error.isEmpty() ? QString() : QStringLiteral("text-danger"));
	QStringList tip = {status.name, row.stateText};
	if (!row.figures.isEmpty())
		tip << row.figures;
	if (!row.error.isEmpty())
		tip << row.error;
	row.widget->setToolTip(tip.join('\n'));
	row.nameLabel->setAccessibleName(status.name);
	elide(row);
}

void DestinationRows::elide(Row &row)
{
	QStringList parts = {row.stateText};
	if (!row.figures.isEmpty())
		parts << row.figures;
	if (!row.error.isEmpty())
		parts << row.error.simplified();
	const QString info = parts.join(kSeparator);
	row.infoLabel->setAccessibleName(info);
	row.nameLabel->setText(row.nameLabel->fontMetrics().elidedText(row.name, Qt::ElideRight,
								       row.nameLabel->contentsRect().width()));
	row.infoLabel->setText(
		row.infoLabel->fontMetrics().elidedText(info, Qt::ElideRight, row.infoLabel->contentsRect().width()));
}

bool DestinationRows::eventFilter(QObject *watched, QEvent *event)
{
	if (event->type() == QEvent::Resize || event->type() == QEvent::FontChange) {
		for (const auto &row : rows) {
			if (watched == row->nameLabel || watched == row->infoLabel) {
				elide(*row);
				break;
			}
		}
	}
	return QWidget::eventFilter(watched, event);
}

void DestinationRows::changeEvent(QEvent *event)
{
	QWidget::changeEvent(event);
	if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
		for (const auto &row : rows)
			elide(*row);
	}
}

void DestinationRows::toggle(const QString &name)
{
	// The output's own state decides, whatever the row last showed.
	VerticalOutput *output = VerticalOutput::instance();
	int state = -1;
	for (const VerticalOutput::DestinationStatus &status : output->destinationStatuses()) {
		if (status.name == name)
			state = status.state;
	}
	if (state == VerticalOutput::StreamIdle) {
		if (const Result started = output->startDestination(name); !started)
			emit startFailed(started.within("Output.StartFailed").userText());
	} else if (state != VerticalOutput::StreamStopping && state >= 0) {
		output->stopDestination(name, false);
	}
	rebuild();
}

const DestinationRows::Row *DestinationRows::find(const QString &name) const
{
	for (const auto &row : rows) {
		if (row->name == name)
			return row.get();
	}
	return nullptr;
}

QStringList DestinationRows::rowNames() const
{
	QStringList names;
	for (const auto &row : rows)
		names << row->name;
	return names;
}

IconButton *DestinationRows::button(const QString &name) const
{
	const Row *row = find(name);
	return row ? row->button : nullptr;
}

QString DestinationRows::stateText(const QString &name) const
{
	const Row *row = find(name);
	return row ? row->stateText : QString();
}

QString DestinationRows::figuresText(const QString &name) const
{
	const Row *row = find(name);
	return row ? row->figures : QString();
}

QString DestinationRows::errorText(const QString &name) const
{
	const Row *row = find(name);
	return row ? row->error : QString();
}

QString DestinationRows::shownText(const QString &name) const
{
	const Row *row = find(name);
	return row ? row->nameLabel->text() + kSeparator + row->infoLabel->text() : QString();
}

QString DestinationRows::toolTipText(const QString &name) const
{
	const Row *row = find(name);
	return row ? row->widget->toolTip() : QString();
}

} // namespace stilwane
