// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QRectF>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include <obs.hpp>

class QBoxLayout;
class QLabel;
class QMenu;

namespace stilwane {

class IconButton;
class PreviewEditor;
class QTDisplay;

// The slots take QTDisplay pointers: moc's meta-type code needs the complete class.
Q_MOC_INCLUDE("preview/QTDisplay.hpp")

// The displayed part of a W x H canvas in a cx x cy display, keeping the canvas's aspect.
struct LetterboxSize {
	uint32_t width = 0;
	uint32_t height = 0;
};
LetterboxSize letterboxSize(uint32_t cx, uint32_t cy, uint32_t canvasWidth, uint32_t canvasHeight);

// The vertical canvas at the top of the main dock: the preview display (where items are selected
// and edited) and, in studio mode, the program display beside it, drawn letterboxed from the libobs
// graphics thread with the guides, the phone mock-up and the selected item's outline on top.
class PreviewDock : public QWidget {
	Q_OBJECT

public:
	explicit PreviewDock(QWidget *parent = nullptr);
	~PreviewDock() override;

	// Moves the guide and phone toggles into a row of the main dock.
	void placeToggleButtons(QBoxLayout *layout);
	// The dock height at which the preview shows the whole canvas at the current width; 0 while the
	// canvas size is unknown.
	int fittedHeight() const;
	void rebuildOverlayTextures();
	void showContextMenu(const QPoint &globalPos);
	// The preview's context menu for the current state, not yet shown; the caller owns it.
	QMenu *buildContextMenu();

	QTDisplay *preview() const { return previewDisplay; }
	PreviewEditor *editor() const { return previewEditor; }
	QTDisplay *program() const { return programDisplay; }
	IconButton *guidesToggle() const { return guidesButton; }
	IconButton *phoneUiToggle() const { return phoneUiButton; }

signals:
	void fittedHeightChanged();

public slots:
	void onCanvasChanged();
	void onCurrentSceneChanged();
	void onStudioModeChanged();
	void onDisplayCreated(QTDisplay *display);
	void onGuidesToggled(bool on);
	void onPhoneUiToggled(bool on);
	void onGuidesChanged();

protected:
	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	// Draw callbacks, libobs graphics thread.
	static void renderPreview(void *data, uint32_t cx, uint32_t cy);
	static void renderProgram(void *data, uint32_t cx, uint32_t cy);

	QTDisplay *previewDisplay = nullptr;
	QTDisplay *programDisplay = nullptr;
	PreviewEditor *previewEditor = nullptr; // selects and edits items with the preview's mouse and keys
	QWidget *programColumn = nullptr;
	QLabel *previewLabel = nullptr;
	IconButton *guidesButton = nullptr;
	IconButton *phoneUiButton = nullptr;

	// Destroys a texture inside the graphics context, from the user-interface thread.
	struct TextureDeleter {
		void operator()(gs_texture_t *texture) const;
	};
	using Texture = std::unique_ptr<gs_texture_t, TextureDeleter>;

	// Guards what the draw callbacks read below; held only to swap or read them, never while drawing
	// needs the user-interface thread.
	std::mutex renderLock;
	OBSWeakCanvas weakCanvas;       // the vertical canvas, or null without one
	OBSWeakSource weakEditingScene; // the scene the preview edits (studio mode: the preview scene)
	Texture safeLabelTexture;       // the safe area's label, at the canvas size
	Texture phoneUiTexture;         // the phone interface overlay, at the canvas size
	// The safe-area frame at the canvas size, worked out from the configuration on the user-interface
	// thread: the graphics thread must not read the configuration while the settings dialog writes it.
	QRectF safeFrame;

	std::atomic<bool> showGuides{true};
	std::atomic<bool> showPhoneUi{true};
	std::atomic<bool> studioModeActive{false};
};

} // namespace stilwane
