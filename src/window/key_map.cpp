#include "window/key_map.hpp"

namespace flintsearch::window {

Action map_key(std::uint32_t keyval, std::uint32_t modifiers) {
    switch (keyval) {
        case KEY_RETURN:
        case KEY_KP_ENTER:
            return (modifiers & CONTROL_MASK) != 0 ? Action::OpenSelectedFolder
                                                   : Action::OpenSelected;
        case KEY_ESCAPE:
            return Action::Close;
        case KEY_UP:
            return Action::SelectPrevious;
        case KEY_DOWN:
            return Action::SelectNext;
        default:
            return Action::PassThrough;
    }
}

bool is_outside(const Bounds& panel, double x, double y) {
    return x < panel.left || x > panel.left + panel.width || y < panel.top ||
           y > panel.top + panel.height;
}

}  // namespace flintsearch::window
