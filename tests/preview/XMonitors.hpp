// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Monitors for the preview tests, added to and removed from the test's X server. Include after
// <QtTest> and ObsTestEnv.hpp.

#include <ObsTestEnv.hpp>

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QStringList>

#include <dlfcn.h>

// RandR 1.5 monitors on the test's X server, through libX11 and libXrandr loaded at run time: their
// headers would bring X11's macros (KeyPress, None, ...) into a file full of Qt.
class XMonitors {
public:
	~XMonitors() { close(); }

	bool open()
	{
		x11 = dlopen("libX11.so.6", RTLD_NOW);
		xrandr = dlopen("libXrandr.so.2", RTLD_NOW);
		if (!x11 || !xrandr)
			return false;
		openDisplay = reinterpret_cast<decltype(openDisplay)>(dlsym(x11, "XOpenDisplay"));
		closeDisplay = reinterpret_cast<decltype(closeDisplay)>(dlsym(x11, "XCloseDisplay"));
		defaultRoot = reinterpret_cast<decltype(defaultRoot)>(dlsym(x11, "XDefaultRootWindow"));
		internAtom = reinterpret_cast<decltype(internAtom)>(dlsym(x11, "XInternAtom"));
		sync = reinterpret_cast<decltype(sync)>(dlsym(x11, "XSync"));
		allocate = reinterpret_cast<decltype(allocate)>(dlsym(xrandr, "XRRAllocateMonitor"));
		setMonitor = reinterpret_cast<decltype(setMonitor)>(dlsym(xrandr, "XRRSetMonitor"));
		deleteMonitor = reinterpret_cast<decltype(deleteMonitor)>(dlsym(xrandr, "XRRDeleteMonitor"));
		getMonitors = reinterpret_cast<decltype(getMonitors)>(dlsym(xrandr, "XRRGetMonitors"));
		freeMonitors = reinterpret_cast<decltype(freeMonitors)>(dlsym(xrandr, "XRRFreeMonitors"));
		setPrimary = reinterpret_cast<decltype(setPrimary)>(dlsym(xrandr, "XRRSetOutputPrimary"));
		if (!openDisplay || !closeDisplay || !defaultRoot || !internAtom || !sync || !allocate || !setMonitor ||
		    !deleteMonitor || !getMonitors || !freeMonitors || !setPrimary)
			return false;
		display = openDisplay(nullptr);
		if (!display)
			return false;
		root = defaultRoot(display);
		// Xvfb's own monitor stays the primary screen, first in Qt's list, whatever is added.
		int count = 0;
		MonitorInfo *monitors = getMonitors(display, root, 1, &count);
		if (monitors && count > 0 && monitors[0].noutput > 0)
			setPrimary(display, root, monitors[0].outputs[0]);
		if (monitors)
			freeMonitors(monitors);
		sync(display, 0);
		return true;
	}

	QScreen *add(const char *name, const QRect &geometry)
	{
		MonitorInfo *info = allocate(display, 0);
		info->name = internAtom(display, name, 0);
		info->x = geometry.x();
		info->y = geometry.y();
		info->width = geometry.width();
		info->height = geometry.height();
		// About 96 dots per inch.
		info->mwidth = geometry.width() * 254 / 960;
		info->mheight = geometry.height() * 254 / 960;
		setMonitor(display, root, info);
		freeMonitors(info);
		sync(display, 0);
		added << QString::fromLatin1(name);
		QScreen *screen = nullptr;
		ObsTestEnv::waitUntil([&] { return (screen = find(name)) && screen->geometry() == geometry; });
		return screen;
	}

	bool remove(const char *name)
	{
		deleteMonitor(display, root, internAtom(display, name, 0));
		sync(display, 0);
		added.removeAll(QString::fromLatin1(name));
		return ObsTestEnv::waitUntil([&] { return !find(name); });
	}

	void removeAll()
	{
		while (display && !added.isEmpty())
			remove(added.last().toLatin1().constData());
	}

	void close()
	{
		removeAll();
		if (display)
			closeDisplay(display);
		display = nullptr;
	}

	static QScreen *find(const char *name)
	{
		for (QScreen *screen : QGuiApplication::screens())
			if (screen->name() == QLatin1String(name))
				return screen;
		return nullptr;
	}

private:
	struct MonitorInfo {
		unsigned long name;
		int primary;
		int automatic;
		int noutput;
		int x;
		int y;
		int width;
		int height;
		int mwidth;
		int mheight;
		unsigned long *outputs;
	};

	void *x11 = nullptr;
	void *xrandr = nullptr;
	void *display = nullptr;
	unsigned long root = 0;
	QStringList added;
	void *(*openDisplay)(const char *) = nullptr;
	int (*closeDisplay)(void *) = nullptr;
	unsigned long (*defaultRoot)(void *) = nullptr;
	unsigned long (*internAtom)(void *, const char *, int) = nullptr;
	int (*sync)(void *, int) = nullptr;
	MonitorInfo *(*allocate)(void *, int) = nullptr;
	void (*setMonitor)(void *, unsigned long, MonitorInfo *) = nullptr;
	void (*deleteMonitor)(void *, unsigned long, unsigned long) = nullptr;
	MonitorInfo *(*getMonitors)(void *, unsigned long, int, int *) = nullptr;
	void (*freeMonitors)(MonitorInfo *) = nullptr;
	void (*setPrimary)(void *, unsigned long, unsigned long) = nullptr;
};
