// The desktop's colour scheme, followed live by every page.
//
// WebKit gives the pages' prefers-color-scheme from GTK's settings (the
// "gtk-application-prefer-dark-theme" setting, or a theme whose name ends in
// "-dark"). GTK 3 does not read the desktop portal's "color-scheme" (how
// GNOME, KDE and others say "dark style" today), so the program reads it
// from org.freedesktop.portal.Settings at start and on every change and
// shows it with ui::SetColorScheme: the program's pages at once, then that
// GTK setting. Without a session bus or a portal the GTK settings stay as
// the desktop set them and the pages follow them.
#pragma once

#include <cstdint>

typedef struct _GVariant GVariant;

enum class ColorScheme { kDefault = 0, kPreferDark = 1, kPreferLight = 2 };

// The portal's "color-scheme" value: a uint32, possibly inside one or more
// variants (Read wraps it once more than ReadOne). Anything else, and numbers
// other than 1 and 2, read as kDefault. Display-free.
ColorScheme ColorSchemeFromPortal(GVariant* value);

// Whether the pages should be dark: a preference stated by the desktop wins;
// without one, what GTK's own settings said when the program started.
bool PagesDark(ColorScheme scheme, bool gtk_dark_at_start);

// Before the engine starts (it reads the environment once): lets the pages
// follow a dark scheme when the desktop has one to offer, that is when the
// portal answers "color-scheme". The
// engine keeps WebKit's UI side off the GL driver by naming no real render
// device, which also stops WebKit 2.50 from passing a dark scheme to the
// pages; on such a desktop no device is named (WebKit then finds its own, at
// the cost of the driver in this process). On a bare X server, with
// nothing to follow, nothing changes. Returns whether the pages can follow.
bool PrepareEngineForColorScheme();

// Starts following the portal (asynchronously; returns at once). UI thread,
// after the engine started. Safe to call again.
void FollowDesktopColorScheme();
