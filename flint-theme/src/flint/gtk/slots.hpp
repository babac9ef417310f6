// The theme library's slots, for tests: this thread's own style
// providers and file monitors (theme.hpp installs them). Not for programs:
// they install and reload through theme.hpp and never hold these.
//
// Ownership: the library keeps every object returned here; callers borrow
// it and must not unref it.
#pragma once

#include <gtk/gtk.h>

namespace flint {

// nullptr when the slot was never filled on this thread.
GtkCssProvider* theme_provider();
GtkCssProvider* app_provider();
GFileMonitor* theme_watcher();
GFileMonitor* app_watcher();

}  // namespace flint
