// The texts that result rows and activation derive from a hit. Pure and
// GTK-free, safe on any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace flintsearch::window {

// The single row shown while the search entry is empty.
inline constexpr std::string_view HINT_TEXT = "Type to search across your documents\u2026";
inline constexpr std::string_view NO_RESULTS_TEXT = "No results";
inline constexpr std::string_view ERROR_PREFIX = "Error: ";
inline constexpr std::string_view CLIENT_ERROR_PREFIX = "flintmill not running: ";

// At most this many bytes of a title, a path or a snippet line reach a
// label: far more than a row can show, and little enough that GTK lays any
// of them out at once (a megabyte title is more than it can draw at all).
inline constexpr std::size_t MAX_LABEL_BYTES = 1024;

// Which part of a cut text stays: the start (titles, snippets) or the end
// (paths, which show their file name).
enum class Keep { Start, End };

// The text as a label shows it: unchanged up to MAX_LABEL_BYTES, otherwise
// cut on a character boundary with an ellipsis where the rest was. Only the
// display is cut: a row's stored path stays exact.
std::string label_text(std::string_view text, Keep keep);

// The message row after the last hit row when a reply held more hits than
// are kept: "12,345 more hits not shown".
std::string left_out_text(std::size_t left_out);

// The score as a whole percentage: score * 100 in single precision, rounded
// half to even, e.g. 0.125 -> "12%", and held to 0% .. 100%: a negative
// score, NaN or -inf shows "0%", a score above 1 or +inf "100%".
std::string score_text(float score);

// The first line of a snippet (up to the first line feed, without a carriage
// return before it), Unicode white space trimmed at both ends. May be empty.
std::string snippet_line(std::string_view snippet);

// Whether a hit's path may be opened: only an absolute path, one that
// starts with "/". Anything else (a bare name, which would open relative to
// the launcher's working directory; "-x" or "--help", which xdg-open would
// take for options; the empty text) is shown but never handed on. The
// folder of an absolute path is absolute too, so no text that reaches
// xdg-open starts with "-".
bool is_openable_path(std::string_view path);

// The folder that holds path: the path without its last component, repeated
// and trailing slashes ignored ("/home/u/docs/a.pdf" -> "/home/u/docs",
// "/a" -> "/", "a.pdf" -> ""). A path with no parent ("/" or "") is returned
// itself. Ill-formed UTF-8 becomes U+FFFD.
std::string parent_folder(std::string_view path);

// What a screen reader says for a hit row, one sentence from what the row
// shows: "Report one, 87%, in /home/u/docs". The title is cut as its label
// is; a hit whose path has no folder leaves out the last part.
std::string accessible_row_text(std::string_view title, float score, std::string_view path);

}  // namespace flintsearch::window
