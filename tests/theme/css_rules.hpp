// What GTK makes of a stylesheet, so that tests compare providers by the
// rules they hold rather than by the text they were given.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "flint/gtk/ref.hpp"
#include "flint/gtk/theme.hpp"

namespace theme_test {

// The rules GTK parses from `text`, printed back.
inline std::string parsed(const std::string& text) {
    auto provider = flint::adopt(gtk_css_provider_new());
    flint::load_provider_text(provider.get(), text);
    const flint::GCharPtr out(gtk_css_provider_to_string(provider.get()));
    return out.get();
}

// The rules a provider holds, printed back; "(no provider)" for none.
inline std::string rules_of(GtkCssProvider* provider) {
    if (provider == nullptr) {
        return "(no provider)";
    }
    const flint::GCharPtr out(gtk_css_provider_to_string(provider));
    return out.get();
}

}  // namespace theme_test
