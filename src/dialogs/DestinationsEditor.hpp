// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <common/ConfigRecord.hpp>
#include <output/IngestServers.hpp>

#include <QList>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace stilwane {

// The stream destinations after the first, as the settings dialog edits them: one box each with its
// name, whether it is enabled, its server (typed, or one of OBS's ingest servers) and its key. The
// boxes are its only state; the configuration changes only when the dialog stores records(). A
// destination that streams keeps its name and cannot be removed: its output is known by that name.
class DestinationsEditor : public QWidget {
	Q_OBJECT

public:
	// Filled from the configured destinations; the servers to pick from are OBS's list.
	explicit DestinationsEditor(QWidget *parent = nullptr);
	// The same with the servers to pick from given (tests).
	DestinationsEditor(QWidget *parent, const QList<IngestServer> &ingest);
	~DestinationsEditor() override;

	// The first destination's server as the dialog would store it: the first's name, which follows
	// from it, is taken as well.
	void setFirstServer(const QString &server);

	int count() const;
	// The destinations as config.json's "destinations" would hold them, fields trimmed.
	std::vector<DestinationRecord> records() const;
	// Whether records() differs from what the editor was filled with.
	bool edited() const;
	// Why the destinations cannot be stored as they are, in the user's words, or empty: a name used
	// twice (the first's included), or a destination that streams renamed or removed (it may have
	// started since the boxes were last refreshed).
	QString problem() const;

public slots:
	// A new destination at the end, named "Destination" (made unique) until a server is chosen.
	void addDestination();
	// Locks the names and remove buttons of the destinations that are not idle.
	void refreshAvailability();

private:
	struct Row;

	void build();
	void addRow(const DestinationRecord &record, const QString &configuredName, bool proposedName);
	void removeRow(Row *row);
	// A server was typed or picked: a proposed name follows its platform.
	void serverChosen(Row *row, const QString &platform);
	void renumber();
	int indexOf(const Row *row) const;
	QString uniqueName(const QString &base, int except) const;
	ConfigRecord candidate() const;

	QList<IngestServer> ingest;
	QString firstServer;
	std::vector<std::unique_ptr<Row>> rows;
	std::vector<DestinationRecord> filled;
	QVBoxLayout *rowsLayout = nullptr;
	QPushButton *addButton = nullptr;
};

} // namespace stilwane
