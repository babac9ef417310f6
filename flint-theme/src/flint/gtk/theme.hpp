// The theme stylesheet, display-wide style providers and their live reload.
//
// Three stylesheets are installed on the default display:
//   - the theme stylesheet (priority 600): the runtime theme file when it can
//     be read, else the stylesheet generated from the palette;
//   - the application stylesheet (priority 600, added after the theme, so it
//     wins where the two conflict): whatever the registered generator returns;
//   - the user stylesheet (priority 800), read once into a caller's slot.
// The first two are reloaded in place whenever the runtime theme file is
// written, replaced, moved or deleted.
//
// Threading: the entry points that touch providers or monitors need an
// initialised GTK with a default display and run on the GTK main thread. The
// library's slots (theme provider, application provider, generator and the
// two watchers) are per thread and live until that thread ends; GIO delivers
// the watchers' "changed" signals in the main context of the thread that
// created them. define_colors, theme_css, theme_css_path and event_concerns
// are pure and may run anywhere.
//
// Providers are created once per slot and reloaded in place, so repeated
// reloads never add providers or change their precedence.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "flint/gtk/ref.hpp"
#include "flint/palette.hpp"

namespace flint {

// Constants filled into the generated stylesheet (sizes in px).
inline constexpr const char* FONT_FAMILY = "Varela Round, sans-serif";
inline constexpr int FONT_SIZE = 14;
inline constexpr int FONT_SIZE_SMALL = 12;
inline constexpr int RADIUS = 8;
inline constexpr int RADIUS_SMALL = 6;
inline constexpr int RADIUS_PILL = 999;
inline constexpr int SPACE_XS = 4;
inline constexpr int SPACE_S = 8;
inline constexpr int SPACE_M = 12;
inline constexpr int SPACE_L = 16;

// The sixteen "@define-color NAME VALUE;" lines that begin the theme
// stylesheet: bg, fg, surface, overlay, accent, red, green, yellow, blue (a
// copy of accent), pink, teal, then the inks on-bg, on-surface, on-accent,
// on-red and on-overlay from on_color. Values are copied verbatim.
std::string define_colors(const Palette& palette);

// The whole generated theme stylesheet: define_colors, then 39 fixed rule
// lines with the constants above filled in. Every line ends with LF.
std::string theme_css(const Palette& palette);

// Path of the runtime theme file: XDG_RUNTIME_DIR when set, UTF-8 and not
// empty, else cache_dir(), else "/tmp"; joined with "flint/theme.css", e.g.
// /run/user/1000/flint/theme.css. May be relative (XDG_CACHE_HOME="").
std::string theme_css_path();

// A cell holding at most one CSS provider. Once created the provider stays
// in the slot and later loads replace its rules. The slot owns one reference
// to the provider; the display it was added to holds another, so destroying
// the slot does not take the provider off the display. Main thread only.
class ProviderSlot {
  public:
    ProviderSlot() = default;
    ProviderSlot(const ProviderSlot&) = delete;
    ProviderSlot& operator=(const ProviderSlot&) = delete;
    ~ProviderSlot() = default;

    GtkCssProvider* get() const { return provider_.get(); }

    // Takes over a reference to a provider (or nullptr), dropping the
    // reference to the one held before.
    void reset(GtkCssProvider* adopted);

    // Loads text into the held provider, which must exist, after vet_css
    // (css_refs.hpp) has checked every file it refers to; origin is the file
    // the text came from, empty for generated text. Each refused reference
    // is reported once (report_once) and the rest of the text still
    // applies. Vetted text identical to what this slot last loaded is not
    // parsed again; imported files are part of it, so a changed one is.
    void load(const std::string& text, const std::string& origin = {});

  private:
    Ref<GtkCssProvider> provider_;
    std::string loaded_;
    bool has_loaded_ = false;
};

using Generator = std::function<std::string()>;
using ReloadAction = std::function<void()>;

// Loads text into a provider, replacing its rules. The one place that knows
// which GTK call does that on the GTK version built against. GTK reports CSS
// errors itself and skips the faulty parts.
void load_provider_text(GtkCssProvider* provider, const std::string& text);

// Loads text into the slot's provider, creating it and adding it to the
// default display at priority 600 (GTK_STYLE_PROVIDER_PRIORITY_APPLICATION)
// the first time. Without a default display the process stops with
// "<prgname>: no display" on standard error (abort): calling this before
// GTK has opened its display is a programming error.
void apply_css(const std::string& text, ProviderSlot& slot);

// Applies the runtime theme file's text (when it can be read as UTF-8, even
// if empty), else theme_css(load_palette()), to this thread's theme slot.
void load_theme();

// load_theme, then starts this thread's theme watcher (load_theme on every
// change of the theme file) unless one is running. A watcher that cannot be
// created is tried again on the next call.
void install_theme();

// Registers the application's stylesheet generator for this thread
// (replacing and releasing any earlier one), applies its text to the
// application slot, and starts this thread's application watcher
// (apply_app_css on every change of the theme file) unless one is running.
// An exception from the generator propagates to the caller.
void set_app_css(Generator generator);

// Runs the registered generator into the application slot; nothing when no
// generator is registered. The generator may itself call set_app_css.
void apply_app_css();

// Reads a user stylesheet once into the caller's slot at priority 800
// (GTK_STYLE_PROVIDER_PRIORITY_USER). A missing, unreadable or non-UTF-8
// file empties the slot's provider if it has one and otherwise installs
// nothing; it is not reported. The file is not watched. Stops like apply_css
// without a default display.
void load_user_css(const std::string& path, ProviderSlot& slot);

// Watches the theme file's directory (created with parents, mode 0777 before
// the umask, if missing) for changes, moves included. Each "changed" event
// that concerns the theme file runs the action on the thread that created
// the monitor; there is no debouncing, so one write usually runs it more
// than once. An exception thrown by the action is caught and dropped. The
// handler owns a copy of the theme file path and the action; both are
// released when the monitor is finalised. Returns the monitor (the caller
// owns it), or nothing when GIO cannot monitor the directory.
Ref<GFileMonitor> watch_theme_file(ReloadAction action);

// Whether a monitor event concerns the theme file: the first file's local
// path, else the other file's, names the same path as theme_path. Paths are
// compared component by component, so doubled separators, a trailing
// separator and interior "." components make no difference. A null path
// (no file, or no local path) never matches.
bool event_concerns(const char* file_path, const char* other_path, const std::string& theme_path);

// For tests: this thread's own providers and watchers (nullptr when none).
GtkCssProvider* theme_provider();
GtkCssProvider* app_provider();
GFileMonitor* theme_watcher();
GFileMonitor* app_watcher();

}  // namespace flint
