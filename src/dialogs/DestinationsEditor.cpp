// SPDX-License-Identifier: GPL-2.0-or-later
#include <dialogs/DestinationsEditor.hpp>

#include <widgets/IconButton.hpp>
#include <output/VerticalOutput.hpp>
#include <common/Destinations.hpp>
#include <common/Limits.hpp>
#include <common/Module.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace stilwane {

namespace {

// What correctDestinations names a destination that has no name; a chosen server's platform replaces it.
const QString kDefaultName = QStringLiteral("Destination");
constexpr int kPlatformRole = Qt::UserRole + 1;

QLabel *makeNote(const QString &text, QWidget *parent)
{
	auto *label = new QLabel(text, parent);
	label->setWordWrap(true);
	setThemeClass(label, QStringLiteral("text-muted text-small"));
	return label;
}

// The platform a typed server belongs to, or empty for any other server (named after its host, which
// is no better a proposal than the default name).
QString platformOfServer(const QString &server)
{
	const QString name = destinationNameForServer(server);
	const QString host = QUrl(server.trimmed()).host().toLower();
	return (name == QStringLiteral("Custom") || name == host) ? QString() : name;
}

} // namespace

struct DestinationsEditor::Row {
	QFrame *box = nullptr;
	QLineEdit *name = nullptr;
	QCheckBox *enabled = nullptr;
	QPushButton *remove = nullptr;
	QLineEdit *server = nullptr;
	QComboBox *picker = nullptr;
	QLineEdit *key = nullptr;
	QCheckBox *showKey = nullptr;
	QLabel *hint = nullptr;
	// The name the configuration knows it by (what VerticalOutput knows its output by); empty for a
	// destination added in this dialog.
	QString configuredName;
	// The name is still one the editor proposed: choosing a server may replace it.
	bool proposedName = false;
};

DestinationsEditor::DestinationsEditor(QWidget *parent) : DestinationsEditor(parent, IngestServers::available()) {}

DestinationsEditor::DestinationsEditor(QWidget *parent, const QList<IngestServer> &ingest)
	: QWidget(parent),
	  ingest(ingest),
	  firstServer(QString::fromStdString(config().server).trimmed())
{
	setObjectName("stilwane_settings_destinations");
	build();
	for (const DestinationRecord &record : config().destinations)
		addRow(record, QString::fromStdString(record.name).trimmed(), false);
	filled = records();
	connect(VerticalOutput::instance(), &VerticalOutput::destinationStateChanged, this,
		&DestinationsEditor::refreshAvailability);
	refreshAvailability();
}

DestinationsEditor::~DestinationsEditor() = default;

void DestinationsEditor::build()
{
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(0, 6, 0, 0);
	auto *title = new QLabel(translate("Settings.Destinations.Title"), this);
	QFont font = title->font();
	font.setBold(true);
	title->setFont(font);
	layout->addWidget(title);
	layout->addWidget(
		makeNote(translate("Settings.Destinations.Note").arg(QString::number(kMaxDestinations)), this));
	rowsLayout = new QVBoxLayout();
	rowsLayout->setContentsMargins(0, 0, 0, 0);
	layout->addLayout(rowsLayout);

	addButton = new QPushButton(translate("Settings.Destinations.Add"), this);
	addButton->setObjectName("stilwane_destinations_add");
	connect(addButton, &QPushButton::clicked, this, &DestinationsEditor::addDestination);
	auto *addRow = new QHBoxLayout();
	addRow->addWidget(addButton);
	addRow->addStretch(1);
	layout->addLayout(addRow);
}

void DestinationsEditor::addRow(const DestinationRecord &record, const QString &configuredName, bool proposedName)
{
	auto row = std::make_unique<Row>();
	Row *r = row.get();
	r->configuredName = configuredName;
	r->proposedName = proposedName;
	r->box = new QFrame(this);
	r->box->setFrameShape(QFrame::StyledPanel);
	auto *form = new QFormLayout(r->box);

	r->name = new QLineEdit(QString::fromStdString(record.name), r->box);
	r->name->setObjectName("stilwane_destination_name");
	r->enabled = new QCheckBox(translate("Settings.Destinations.Enabled"), r->box);
	r->enabled->setObjectName("stilwane_destination_enabled");
	r->enabled->setChecked(record.enabled);
	r->remove = new QPushButton(translate("Settings.Destinations.Remove"), r->box);
	r->remove->setObjectName("stilwane_destination_remove");
	auto *nameRow = new QHBoxLayout();
	nameRow->addWidget(r->name, 1);
	nameRow->addWidget(r->enabled);
	nameRow->addWidget(r->remove);
	form->addRow(translate("Settings.Destinations.Name"), nameRow);

	r->server = new QLineEdit(QString::fromStdString(record.server), r->box);
	r->server->setObjectName("stilwane_destination_server");
	r->picker = new QComboBox(r->box);
	r->picker->setObjectName("stilwane_destination_picker");
	r->picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
	r->picker->setMinimumContentsLength(14);
	r->picker->setPlaceholderText(translate("Settings.Destinations.Pick"));
	for (const IngestServer &server : ingest) {
		r->picker->addItem(QStringLiteral("%1: %2").arg(server.service, server.name), server.url);
		const int index = r->picker->count() - 1;
		r->picker->setItemData(index, server.platform, kPlatformRole);
		r->picker->setItemData(index, server.url, Qt::ToolTipRole);
	}
	r->picker->setCurrentIndex(-1);
	r->picker->setVisible(!ingest.isEmpty());
	auto *serverRow = new QHBoxLayout();
	serverRow->addWidget(r->server, 1);
	serverRow->addWidget(r->picker);
	form->addRow(translate("Settings.Server"), serverRow);

	r->key = new QLineEdit(QString::fromStdString(record.key), r->box);
	r->key->setObjectName("stilwane_destination_key");
	r->key->setEchoMode(QLineEdit::Password);
	r->showKey = new QCheckBox(translate("Settings.ShowKey"), r->box);
	r->showKey->setObjectName("stilwane_destination_show_key");
	auto *keyRow = new QHBoxLayout();
	keyRow->addWidget(r->key, 1);
	keyRow->addWidget(r->showKey);
	form->addRow(translate("Settings.Key"), keyRow);

	r->hint = makeNote(translate("Settings.Destinations.NextStart"), r->box);
	r->hint->setObjectName("stilwane_destination_hint");
	r->hint->setVisible(false);
	form->addRow(r->hint);

	connect(r->name, &QLineEdit::textEdited, this, [r] { r->proposedName = false; });
	connect(r->server, &QLineEdit::textEdited, this,
		[this, r](const QString &text) { serverChosen(r, platformOfServer(text)); });
	connect(r->picker, &QComboBox::activated, this, [this, r](int index) {
		if (index < 0)
			return;
		r->server->setText(r->picker->itemData(index).toString());
		serverChosen(r, r->picker->itemData(index, kPlatformRole).toString());
		// The choice is taken into the server field; the list stays a list to pick from.
		r->picker->setCurrentIndex(-1);
	});
	connect(r->showKey, &QCheckBox::toggled, this,
		[r](bool shown) { r->key->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password); });
	connect(r->remove, &QPushButton::clicked, this, [this, r] { removeRow(r); });

	rowsLayout->addWidget(r->box);
	// At once, not when the layout gets round to it: the new box takes the focus.
	r->box->show();
	rows.push_back(std::move(row));
	renumber();
}

void DestinationsEditor::addDestination()
{
	if (count() >= kMaxDestinations - 1)
		return;
	DestinationRecord record;
	record.name = uniqueName(kDefaultName, -1).toStdString();
	addRow(record, QString(), true);
	rows.back()->server->setFocus();
	refreshAvailability();
}

void DestinationsEditor::removeRow(Row *row)
{
	const int index = indexOf(row);
	if (index < 0 || !row->remove->isEnabled())
		return;
	// The click that asks is still being delivered to the row's button.
	row->box->hide();
	row->box->setObjectName(QString());
	row->box->deleteLater();
	rows.erase(rows.begin() + index);
	renumber();
	refreshAvailability();
}

void DestinationsEditor::serverChosen(Row *row, const QString &platform)
{
	if (!row->proposedName)
		return;
	const int index = indexOf(row);
	row->name->setText(uniqueName(platform.isEmpty() ? kDefaultName : platform, index));
}

void DestinationsEditor::renumber()
{
	for (size_t i = 0; i < rows.size(); i++)
		rows[i]->box->setObjectName(QStringLiteral("stilwane_destination_row_%1").arg(i + 1));
}

int DestinationsEditor::indexOf(const Row *row) const
{
	const auto it = std::find_if(rows.begin(), rows.end(), [row](const auto &r) { return r.get() == row; });
	return it == rows.end() ? -1 : int(it - rows.begin());
}

void DestinationsEditor::setFirstServer(const QString &server)
{
	firstServer = server.trimmed();
}

int DestinationsEditor::count() const
{
	return int(rows.size());
}

std::vector<DestinationRecord> DestinationsEditor::records() const
{
	std::vector<DestinationRecord> list;
	for (const auto &r : rows) {
		DestinationRecord record;
		record.name = r->name->text().trimmed().toStdString();
		record.server = r->server->text().trimmed().toStdString();
		record.key = r->key->text().trimmed().toStdString();
		record.enabled = r->enabled->isChecked();
		list.push_back(record);
	}
	return list;
}

bool DestinationsEditor::edited() const
{
	const std::vector<DestinationRecord> now = records();
	return !std::equal(now.begin(), now.end(), filled.begin(), filled.end(),
			   [](const DestinationRecord &a, const DestinationRecord &b) {
				   return a.name == b.name && a.server == b.server && a.key == b.key &&
					  a.enabled == b.enabled;
			   });
}

ConfigRecord DestinationsEditor::candidate() const
{
	ConfigRecord c;
	c.server = firstServer.toStdString();
	c.destinations = records();
	return c;
}

QString DestinationsEditor::uniqueName(const QString &base, int except) const
{
	// Indexes of destinationList(): the first destination comes before the rows.
	return uniqueDestinationName(candidate(), base, except < 0 ? -1 : except + 1);
}

QString DestinationsEditor::problem() const
{
	const ConfigRecord c = candidate();
	for (size_t i = 0; i < rows.size(); i++) {
		const QString name = rows[i]->name->text().trimmed();
		if (!name.isEmpty() && destinationNameTaken(c, name, int(i) + 1))
			return translate("Settings.Destinations.NameTaken").arg(name);
	}
	for (const VerticalOutput::DestinationStatus &status : VerticalOutput::instance()->destinationStatuses()) {
		if (status.first || status.state == VerticalOutput::StreamIdle)
			continue;
		const bool kept = std::any_of(rows.begin(), rows.end(), [&](const auto &r) {
			return r->configuredName == status.name && r->name->text().trimmed() == status.name;
		});
		if (!kept)
			return translate("Settings.Destinations.Running").arg(status.name);
	}
	return QString();
}

void DestinationsEditor::refreshAvailability()
{
	QStringList busy;
	for (const VerticalOutput::DestinationStatus &status : VerticalOutput::instance()->destinationStatuses()) {
		if (!status.first && status.state != VerticalOutput::StreamIdle)
			busy << status.name;
	}
	for (const auto &r : rows) {
		const bool locked = !r->configuredName.isEmpty() && busy.contains(r->configuredName);
		// A rename typed before the destination started could not be stored: its output has the name.
		if (locked && r->name->text().trimmed() != r->configuredName)
			r->name->setText(r->configuredName);
		const QString why = locked ? translate("Settings.Destinations.Locked") : QString();
		for (QWidget *field : std::initializer_list<QWidget *>{r->name, r->remove}) {
			field->setEnabled(!locked);
			field->setToolTip(why);
		}
		r->hint->setVisible(locked);
	}
	const bool full = count() >= kMaxDestinations - 1;
	addButton->setEnabled(!full);
	addButton->setToolTip(full ? translate("Settings.Destinations.Limit").arg(QString::number(kMaxDestinations))
				   : QString());
}

} // namespace stilwane
