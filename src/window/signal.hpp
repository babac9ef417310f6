// Connecting C++ callables to GObject signals. The callable is moved to the
// heap and owned by the signal handler: GLib deletes it when the handler is
// disconnected, which at the latest happens when the instance is disposed
// (for a widget: when its window is destroyed). Whatever the callable holds,
// Ref<> owners included, is released then.
#pragma once

#include <glib-object.h>

#include <exception>
#include <type_traits>
#include <utility>

namespace flintsearch::window {
namespace detail {

template <class F, class Signature>
struct Handler;

template <class F, class R, class... Args>
struct Handler<F, R(Args...)> {
    // Matches the signal's C signature: the arguments, then the user data.
    static R call(Args... args, gpointer data) {
        // No exception may cross into GLib's C frames.
        try {
            return (*static_cast<F*>(data))(args...);
        } catch (const std::exception& e) {
            g_warning("flintsearch: signal handler failed: %s", e.what());
        } catch (...) {
            g_warning("flintsearch: signal handler failed");
        }
        if constexpr (!std::is_void_v<R>) {
            return R{};
        }
    }

    static void destroy(gpointer data, GClosure* /*closure*/) { delete static_cast<F*>(data); }
};

}  // namespace detail

// Signature is the handler's C signature without the trailing user-data
// pointer, e.g. void(GtkEditable*) for "changed". Returns the handler id.
template <class Signature, class F>
gulong connect(gpointer instance, const char* signal, F&& callable) {
    using Callable = std::decay_t<F>;
    using H = detail::Handler<Callable, Signature>;
    auto* data = new Callable(std::forward<F>(callable));
    return g_signal_connect_data(instance, signal, reinterpret_cast<GCallback>(&H::call), data,
                                 &H::destroy, GConnectFlags{});
}

}  // namespace flintsearch::window
