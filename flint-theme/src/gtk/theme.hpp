// The theme stylesheet, display-wide style providers and their live reload.
//
// All entry points need an initialised GTK with a default display and run on
// the GTK main thread. Providers are created once per slot and reloaded in
// place, so repeated reloads never add providers or change precedence.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "palette.hpp"

namespace flint {

// The sixteen @define-color lines that begin the theme stylesheet.
std::string define_colors(const Palette& palette);

// The whole generated theme stylesheet: the colour block, then the rules.
std::string theme_css(const Palette& palette);

// Path of the runtime theme file, e.g. /run/user/1000/flint/theme.css.
std::string theme_css_path();

// A cell holding at most one CSS provider; once created the provider stays
// and later loads replace its rules. Owns one reference to the provider.
class ProviderSlot {
public:
    ProviderSlot() = default;
    ProviderSlot(const ProviderSlot&) = delete;
    ProviderSlot& operator=(const ProviderSlot&) = delete;
    ~ProviderSlot();

    GtkCssProvider* get() const { return provider_; }
    void reset(GtkCssProvider* adopted);

private:
    GtkCssProvider* provider_ = nullptr;
};

using Generator = std::function<std::string()>;
using ReloadAction = std::function<void()>;

// Loads text into a provider, replacing its rules (the one place that knows
// which GTK call does that on this GTK version).
void load_provider_text(GtkCssProvider* provider, const std::string& text);

// Loads text into the slot's provider, creating it and adding it to the
// default display at priority 600 the first time.
void apply_css(const std::string& text, ProviderSlot& slot);

// Applies theme.css, or the palette's generated stylesheet, to the theme slot.
void load_theme();

// load_theme, and start the theme watcher once per thread.
void install_theme();

// Registers the application's stylesheet generator (replacing any earlier
// one), applies its text to the application slot, and starts the
// application watcher once per thread.
void set_app_css(Generator generator);

// Runs the registered generator into the application slot, if any.
void apply_app_css();

// Reads a user stylesheet once into the caller's slot at priority 800; a
// missing or unreadable file empties an existing provider and adds none.
void load_user_css(const std::string& path, ProviderSlot& slot);

// Watches the theme file's directory; every change that concerns the theme
// file runs the action. Returns a new monitor reference, or nullptr.
GFileMonitor* watch_theme_file(ReloadAction action);

// Whether a monitor event with these local paths concerns the theme file
// (compared by path components).
bool event_concerns(const char* file_path, const char* other_path, const std::string& theme_path);

// For tests: the providers in the library's own slots (nullptr when none).
GtkCssProvider* theme_provider();
GtkCssProvider* app_provider();

}  // namespace flint
