#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "flint/css_refs.hpp"
#include "flint/gtk/slots.hpp"
#include "flint/gtk/theme.hpp"
#include "flint/report.hpp"
#include "flint/text.hpp"
#include "flint/trust.hpp"

namespace flint {
namespace {

// Everything the library keeps for one thread. The watchers come last so
// they are finalised first: their handlers' actions use the slots above.
struct ThreadState {
    ProviderSlot theme;
    ProviderSlot app;
    // Held through a shared pointer so that a generator that registers
    // another one while it runs stays alive until it returns.
    std::shared_ptr<const Generator> generator;
    Ref<GFileMonitor> theme_watcher;
    Ref<GFileMonitor> app_watcher;
};

ThreadState& state() {
    thread_local ThreadState s;
    return s;
}

// The default display. Its absence is a precondition failure: the program
// installs stylesheets only after GTK has opened its display.
GdkDisplay* require_display() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) {
        const char* name = g_get_prgname();
        std::fprintf(stderr, "%s: no display\n", name != nullptr ? name : "flint-theme");
        std::abort();
    }
    return display;
}

void install(const std::string& text, const std::string& origin, ProviderSlot& slot,
             GdkDisplay* display, guint priority) {
    if (slot.get() == nullptr) {
        slot.reset(gtk_css_provider_new());
        slot.load(text, origin);
        gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(slot.get()),
                                                   priority);
    } else {
        slot.load(text, origin);
    }
}

// A stylesheet file's text when it can be read and trusted; a refused one is
// reported (once) and counts as unreadable.
std::optional<std::string> read_stylesheet(const std::string& path) {
    TrustedRead read = read_trusted_text_file(path);
    if (!read.refusal.empty()) {
        report_once("ignoring " + path + ": " + read.refusal);
    }
    return std::move(read.text);
}

}  // namespace

void ProviderSlot::reset(GtkCssProvider* adopted) {
    provider_ = adopt(adopted);
    loaded_.clear();
    has_loaded_ = false;
}

void ProviderSlot::load(const std::string& text, const std::string& origin) {
    g_return_if_fail(provider_ != nullptr);
    // GTK never sees a reference that was not checked: imports arrive
    // inlined, so the comparison below also notices an imported file that
    // changed.
    VettedCss vetted = vet_css(text, origin);
    for (const std::string& refusal : vetted.refusals) {
        report_once(refusal);
    }
    if (has_loaded_ && vetted.text == loaded_) {
        return;
    }
    load_provider_text(provider_.get(), vetted.text);
    loaded_ = std::move(vetted.text);
    has_loaded_ = true;
}

void load_provider_text(GtkCssProvider* provider, const std::string& text) {
#if GTK_CHECK_VERSION(4, 12, 0)
    gtk_css_provider_load_from_string(provider, text.c_str());
#else
    gtk_css_provider_load_from_data(provider, text.c_str(), -1);
#endif
}

void apply_css(const std::string& text, ProviderSlot& slot) {
    install(text, {}, slot, require_display(), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void load_theme() {
    const std::string path = theme_css_path();
    if (const auto text = read_stylesheet(path)) {
        install(*text, path, state().theme, require_display(),
                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    } else {
        apply_css(theme_css(load_palette()), state().theme);
    }
}

void install_theme() {
    load_theme();
    auto& s = state();
    if (s.theme_watcher == nullptr) {
        s.theme_watcher = watch_theme_file(load_theme);
    }
}

void set_app_css(Generator generator) {
    auto& s = state();
    s.generator = std::make_shared<const Generator>(std::move(generator));
    apply_app_css();
    if (s.app_watcher == nullptr) {
        s.app_watcher = watch_theme_file(apply_app_css);
    }
}

void apply_app_css() {
    const std::shared_ptr<const Generator> generator = state().generator;
    if (generator == nullptr || !*generator) {
        return;
    }
    apply_css((*generator)(), state().app);
}

void load_user_css(const std::string& path, ProviderSlot& slot) {
    GdkDisplay* display = require_display();
    if (const auto text = read_stylesheet(path)) {
        install(*text, path, slot, display, GTK_STYLE_PROVIDER_PRIORITY_USER);
    } else if (slot.get() != nullptr) {
        slot.load("");
    }
}

GtkCssProvider* theme_provider() {
    return state().theme.get();
}
GtkCssProvider* app_provider() {
    return state().app.get();
}
GFileMonitor* theme_watcher() {
    return state().theme_watcher.get();
}
GFileMonitor* app_watcher() {
    return state().app_watcher.get();
}

}  // namespace flint
