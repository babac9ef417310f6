// The files a stylesheet makes GTK open, and vetting them before GTK does.
//
// GTK resolves @import rules and url() values itself, with blocking reads on
// the main thread: a FIFO or /dev/zero named there freezes or kills the
// program, however carefully the stylesheet file itself was read. So every
// stylesheet text is vetted first. The scanner knows just enough CSS to see
// what GTK's tokenizer sees (comments, strings, escapes, url tokens, blocks),
// without parsing rules.
//
// Pure apart from reading the referenced files; no GTK; safe on any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flint/text.hpp"

namespace flint {

enum class CssRefKind { Import, Url };

// One place where a stylesheet names another file.
struct CssRef {
    CssRefKind kind;
    // The bytes of the reference: the url(...) token or function, or the
    // whole @import rule up to and including its ";".
    std::size_t begin = 0;
    std::size_t end = 0;
    // The URL with its escapes decoded; nothing when the reference is
    // malformed (a bad url token, url() around anything but one string, an
    // @import without a string or url()).
    std::optional<std::string> target;
    // For @import: the rule is inside a block (GTK ignores it there), or
    // something follows its target before the ";" (a media list, which GTK
    // answers with a syntax error, loading nothing).
    bool nested = false;
    bool trailing = false;
};

struct CssScan {
    std::vector<CssRef> refs;  // in text order, never overlapping
    // What ends every construct left open at the end of the text (comment,
    // string, blocks, an unfinished rule), so that text placed after it
    // parses as it would on its own.
    std::string closing;
};

// Finds every @import rule and url() in a stylesheet.
CssScan scan_css(std::string_view css);

// Limits on what vetting follows.
struct CssVetLimits {
    int max_depth = 8;                       // nested imports
    std::size_t max_total = MAX_READ_BYTES;  // bytes of imported text, all files together
    std::size_t max_image = MAX_READ_BYTES;  // bytes of one file named by url()
};

struct VettedCss {
    std::string text;                   // what GTK may be given
    std::vector<std::string> refusals;  // one message per refused reference
};

// The stylesheet with every reference to another file checked. origin is
// the file the text was read from (relative references resolve against its
// directory), or empty for generated text.
//   - A local file must pass the rules of read_trusted_text_file (trusted
//     owner and directories, a regular file, bounded size; imports also
//     UTF-8). file:// URIs are decoded; resource: and data: stay as they are
//     (compiled-in or in-memory data, nothing to block on).
//   - A passing @import is replaced by the imported text, itself vetted, so
//     GTK never opens the file: nothing can be swapped in after the check.
//     Imports nest at most max_depth deep, a cycle is refused, and all
//     imported text together is at most max_total bytes.
//   - A passing url() is rewritten to the file:// URI of the path that was
//     checked; GTK opens it later (see the note in css_refs.cpp).
//   - A refused @import is dropped and a refused url() becomes "none"; each
//     adds "ignoring <reference> in <origin>: <reason>" to refusals. Other
//     schemes (http:, sftp:, ...) are refused: GIO would fetch them, blocking.
// @import rules GTK ignores anyway (inside a block, or with a media list)
// are dropped. Everything else is copied byte for byte, so a stylesheet
// without references comes back unchanged.
VettedCss vet_css(std::string_view css, const std::string& origin, const CssVetLimits& limits = {});

}  // namespace flint
