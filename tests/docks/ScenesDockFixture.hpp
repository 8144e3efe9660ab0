// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Shared by the scenes dock tests: the dock in a shown window over the real canvas manager, with the
// vertical scenes A (program), B and C and every modal question answered by ModalAnswers.
// Include after <QtTest>: libobs's SIMD macros break the compiler's intrinsics headers included after
// them.

#include "../canvas/CanvasFixture.hpp"
#include <ModalAnswers.hpp>

#include <docks/ScenesDock.hpp>

#include <QListWidget>
#include <QVBoxLayout>

#include <memory>

using namespace stilwane;

namespace docktest {

class ScenesDockFixture {
public:
	canvastest::Fixture f;
	CanvasManager *m = f.m;
	TestFrontend &fe = f.fe;
	ModalAnswers answers;
	std::unique_ptr<QWidget> window;
	ScenesDock *dock = nullptr;
	obs_source_t *a = nullptr;
	obs_source_t *b = nullptr;
	obs_source_t *c = nullptr;

	void initTestCase()
	{
		f.initTestCase();
		answers.install();
	}

	void cleanupTestCase()
	{
		ModalAnswers::uninstall();
		f.cleanupTestCase();
	}

	// With makeScenes false the canvas exists but holds no scene.
	bool init(bool makeScenes = true)
	{
		f.init();
		answers.clear();
		f.freshCanvas();
		if (makeScenes) {
			a = canvastest::sourceOf(m->addScene("A"));
			b = canvastest::sourceOf(m->addScene("B"));
			c = canvastest::sourceOf(m->addScene("C"));
			// The first scene starts a fade; a switch during it would be logged differently.
			if (!canvastest::waitForTransitionEnd(m))
				return false;
		}
		window = std::make_unique<QWidget>();
		auto *layout = new QVBoxLayout(window.get());
		dock = new ScenesDock(window.get());
		layout->addWidget(dock);
		window->resize(300, 400);
		window->show();
		if (!QTest::qWaitForWindowExposed(window.get()))
			return false;
		ObsTestEnv::clearLog();
		return true;
	}

	void cleanup()
	{
		window.reset();
		dock = nullptr;
		a = b = c = nullptr;
		answers.clear();
		f.cleanup();
	}

	QListWidget *list() const { return dock->findChild<QListWidget *>("stilwane_scene_list"); }

	QStringList rowTexts() const
	{
		QStringList texts;
		for (int row = 0; row < list()->count(); row++)
			texts << list()->item(row)->text();
		return texts;
	}

	QStringList orderNames() const { return canvastest::names(m->scenes()); }

	void clickRow(int row) const
	{
		QListWidget *l = list();
		QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row)).center());
	}

	// Makes a row current as a selection that switches nothing would (the row differs from the
	// program scene only until the dock next redraws).
	void selectRowQuietly(int row) const
	{
		QSignalBlocker block(list());
		list()->setCurrentRow(row);
	}
};

} // namespace docktest
