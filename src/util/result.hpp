// Errors are values: each fallible operation returns Result<T, E> with a
// domain error type that carries the message shown to the user.
#pragma once

#include <tl/expected.hpp>

namespace flintsearch {

template <class T, class E>
using Result = tl::expected<T, E>;

using tl::unexpected;

}  // namespace flintsearch
