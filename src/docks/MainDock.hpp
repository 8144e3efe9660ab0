// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QWidget>

class QButtonGroup;
class QMenu;
class QSplitter;
class QStackedWidget;

namespace stilwane {

class AudioDock;
class IconButton;
class OutputDock;
class PreviewDock;

// The dock "stilwane_main": the vertical preview with its tool row above a splitter, and below it
// the tabbed scenes, sources, transitions and audio pages, which can be collapsed to their tab bar.
// The top pane is kept at the height at which the preview shows the whole canvas, unless the user
// dragged the splitter higher up.
class MainDock : public QWidget {
	Q_OBJECT

public:
	explicit MainDock(QWidget *parent = nullptr);
	~MainDock() override;

	OutputDock *outputDock() const { return outputControls; }
	PreviewDock *preview() const { return previewDock; }
	AudioDock *audioDock() const { return audioPage; }

	// The top pane's height at which the preview shows the whole canvas; 0 while that is unknown.
	int desiredTopHeight() const;
	void fitPreview();
	void setCollapsed(bool collapsed);
	bool isCollapsed() const;

	static void fillProjectorMenu(QMenu *menu);

signals:
	// The settings button was clicked; the module opens its settings as from the Tools menu.
	void settingsRequested();

protected:
	bool event(QEvent *event) override;
	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	QWidget *buildTopPane();
	QWidget *buildBottomPane();
	void scheduleFit();
	void onSplitterMoved();

	OutputDock *outputControls = nullptr;
	PreviewDock *previewDock = nullptr;
	AudioDock *audioPage = nullptr;
	QWidget *topPane = nullptr;
	QSplitter *splitter = nullptr;
	QStackedWidget *tabStack = nullptr;
	QButtonGroup *tabGroup = nullptr;
	QWidget *tabBar = nullptr;
	IconButton *collapseButton = nullptr;
	QWidget *bottomPane = nullptr;
	int expandedBottomHeight = 180;
	// The top height the user dragged the splitter to, below the fitted height; 0 when fitting.
	int userTopHeight = 0;
	bool adjusting = false;
	bool fitQueued = false;
};

} // namespace stilwane
