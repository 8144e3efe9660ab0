#pragma once

#include <QWidget>

class OutputDock;

// The dock "stilwane_main". This version shows where the vertical preview and its docks will be.
class MainDock : public QWidget {
	Q_OBJECT

public:
	explicit MainDock(QWidget *parent = nullptr);

	OutputDock *outputDock() const { return nullptr; }
};
