#include "window/layer_shell_standin.h"

#include <array>
#include <string>

namespace {

constexpr const char* RECORD_KEY = "flintsearch-layer-standin";
constexpr const char* DEFAULT_NAMESPACE = "gtk4-layer-shell";

// What the launcher asked for, owned by the window (freed with it).
struct LayerRecord {
    std::string calls;
    bool had_child_at_init = false;
    std::string name_space = DEFAULT_NAMESPACE;
    GtkLayerShellLayer layer = GTK_LAYER_SHELL_LAYER_TOP;
    GtkLayerShellKeyboardMode keyboard_mode = GTK_LAYER_SHELL_KEYBOARD_MODE_NONE;
    std::array<bool, GTK_LAYER_SHELL_EDGE_ENTRY_NUMBER> anchors{};
    int exclusive_zone = 0;

    void log(const std::string& call) {
        if (!calls.empty()) {
            calls += ',';
        }
        calls += call;
    }
};

void delete_record(gpointer data) {
    delete static_cast<LayerRecord*>(data);
}

LayerRecord* find_record(GtkWindow* window) {
    return static_cast<LayerRecord*>(g_object_get_data(G_OBJECT(window), RECORD_KEY));
}

// The library warns and ignores calls on a window that was not initialised.
LayerRecord* record_for_call(GtkWindow* window, const char* call) {
    LayerRecord* record = find_record(window);
    if (record == nullptr) {
        g_warning("%s on a window that is not a layer window", call);
    }
    return record;
}

}  // namespace

extern "C" {

void gtk_layer_init_for_window(GtkWindow* window) {
    g_return_if_fail(GTK_IS_WINDOW(window));
    if (find_record(window) != nullptr) {
        return;
    }
    auto* record = new LayerRecord;
    record->had_child_at_init = gtk_window_get_child(window) != nullptr;
    record->log("init");
    g_object_set_data_full(G_OBJECT(window), RECORD_KEY, record, delete_record);
}

gboolean gtk_layer_is_layer_window(GtkWindow* window) {
    g_return_val_if_fail(GTK_IS_WINDOW(window), FALSE);
    return find_record(window) != nullptr;
}

void gtk_layer_set_namespace(GtkWindow* window, char const* name_space) {
    g_return_if_fail(GTK_IS_WINDOW(window));
    if (LayerRecord* record = record_for_call(window, "gtk_layer_set_namespace")) {
        record->name_space = name_space != nullptr ? name_space : DEFAULT_NAMESPACE;
        record->log("namespace");
    }
}

const char* gtk_layer_get_namespace(GtkWindow* window) {
    g_return_val_if_fail(GTK_IS_WINDOW(window), DEFAULT_NAMESPACE);
    const LayerRecord* record = find_record(window);
    return record != nullptr ? record->name_space.c_str() : DEFAULT_NAMESPACE;
}

void gtk_layer_set_layer(GtkWindow* window, GtkLayerShellLayer layer) {
    g_return_if_fail(GTK_IS_WINDOW(window));
    g_return_if_fail(layer >= 0 && layer < GTK_LAYER_SHELL_LAYER_ENTRY_NUMBER);
    if (LayerRecord* record = record_for_call(window, "gtk_layer_set_layer")) {
        record->layer = layer;
        record->log("layer");
    }
}

GtkLayerShellLayer gtk_layer_get_layer(GtkWindow* window) {
    g_return_val_if_fail(GTK_IS_WINDOW(window), GTK_LAYER_SHELL_LAYER_TOP);
    const LayerRecord* record = find_record(window);
    return record != nullptr ? record->layer : GTK_LAYER_SHELL_LAYER_TOP;
}

void gtk_layer_set_keyboard_mode(GtkWindow* window, GtkLayerShellKeyboardMode mode) {
    g_return_if_fail(GTK_IS_WINDOW(window));
    g_return_if_fail(mode >= 0 && mode < GTK_LAYER_SHELL_KEYBOARD_MODE_ENTRY_NUMBER);
    if (LayerRecord* record = record_for_call(window, "gtk_layer_set_keyboard_mode")) {
        record->keyboard_mode = mode;
        record->log("keyboard_mode");
    }
}

GtkLayerShellKeyboardMode gtk_layer_get_keyboard_mode(GtkWindow* window) {
    g_return_val_if_fail(GTK_IS_WINDOW(window), GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
    const LayerRecord* record = find_record(window);
    return record != nullptr ? record->keyboard_mode : GTK_LAYER_SHELL_KEYBOARD_MODE_NONE;
}

void gtk_layer_set_anchor(GtkWindow* window, GtkLayerShellEdge edge, gboolean anchor_to_edge) {
    g_return_if_fail(GTK_IS_WINDOW(window));
    g_return_if_fail(edge >= 0 && edge < GTK_LAYER_SHELL_EDGE_ENTRY_NUMBER);
    if (LayerRecord* record = record_for_call(window, "gtk_layer_set_anchor")) {
        record->anchors[static_cast<std::size_t>(edge)] = anchor_to_edge != FALSE;
        record->log("anchor:" + std::to_string(static_cast<int>(edge)));
    }
}

gboolean gtk_layer_get_anchor(GtkWindow* window, GtkLayerShellEdge edge) {
    g_return_val_if_fail(GTK_IS_WINDOW(window), FALSE);
    g_return_val_if_fail(edge >= 0 && edge < GTK_LAYER_SHELL_EDGE_ENTRY_NUMBER, FALSE);
    const LayerRecord* record = find_record(window);
    return record != nullptr && record->anchors[static_cast<std::size_t>(edge)];
}

void gtk_layer_set_exclusive_zone(GtkWindow* window, int exclusive_zone) {
    g_return_if_fail(GTK_IS_WINDOW(window));
    if (LayerRecord* record = record_for_call(window, "gtk_layer_set_exclusive_zone")) {
        record->exclusive_zone = exclusive_zone < -1 ? -1 : exclusive_zone;
        record->log("exclusive_zone");
    }
}

int gtk_layer_get_exclusive_zone(GtkWindow* window) {
    g_return_val_if_fail(GTK_IS_WINDOW(window), 0);
    const LayerRecord* record = find_record(window);
    return record != nullptr ? record->exclusive_zone : 0;
}

const char* flintsearch_layer_standin_calls(GtkWindow* window) {
    g_return_val_if_fail(GTK_IS_WINDOW(window), "");
    const LayerRecord* record = find_record(window);
    return record != nullptr ? record->calls.c_str() : "";
}

gboolean flintsearch_layer_standin_had_child_at_init(GtkWindow* window) {
    g_return_val_if_fail(GTK_IS_WINDOW(window), FALSE);
    const LayerRecord* record = find_record(window);
    return record != nullptr && record->had_child_at_init;
}

}  // extern "C"
