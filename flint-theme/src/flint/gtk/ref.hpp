// Owners for GLib/GObject C objects. Ref<T> holds one strong reference:
// adopt() takes over a "transfer full" result, retain() adds a reference to a
// "transfer none" one. Widgets are owned by their parents and stay plain
// observers; never adopt a floating widget.
#pragma once

#include <glib-object.h>

#include <memory>

namespace flint {

struct Unref {
    void operator()(gpointer object) const {
        if (object != nullptr) {
            g_object_unref(object);
        }
    }
};

template <class T>
using Ref = std::unique_ptr<T, Unref>;

template <class T>
Ref<T> adopt(T* object) {
    return Ref<T>(object);
}

template <class T>
Ref<T> retain(T* object) {
    if (object != nullptr) {
        g_object_ref(object);
    }
    return Ref<T>(object);
}

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

// Owns a GError* and can be passed where GLib wants a GError**.
class ErrorPtr {
  public:
    ErrorPtr() = default;
    ErrorPtr(const ErrorPtr&) = delete;
    ErrorPtr& operator=(const ErrorPtr&) = delete;
    ~ErrorPtr() { g_clear_error(&error_); }

    GError** out() {
        g_clear_error(&error_);
        return &error_;
    }
    GError* get() const { return error_; }
    explicit operator bool() const { return error_ != nullptr; }

  private:
    GError* error_ = nullptr;
};

}  // namespace flint
