// Where every reader in the worker puts the text it finds. The sink makes
// the text the daemon receives: valid UTF-8 (ill-formed bytes become
// U+FFFD), white space and control characters folded into single spaces,
// paragraphs on lines of their own, and at most a given number of bytes,
// cut between characters. Readers stop early once it is full.
//
// Plain value type; single-threaded (the worker is).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace flintmill::extract {

class TextSink {
  public:
    explicit TextSink(std::size_t max_bytes) : max_bytes_(max_bytes) {}

    // Appends running text; runs of white space become one space.
    void add(std::string_view bytes);
    // Separates what came before from what follows by a space (a table
    // cell, a tab) without ending the paragraph.
    void space() { pending_space_ = true; }
    // Ends the paragraph: the next text starts on a new line.
    void paragraph() { pending_break_ = true; }

    bool full() const { return full_; }
    bool empty() const { return text_.empty(); }
    const std::string& text() const { return text_; }
    std::string take() { return std::move(text_); }

  private:
    void put(std::string_view code_point);

    std::size_t max_bytes_;
    std::string text_;
    bool pending_space_ = false;
    bool pending_break_ = false;
    bool full_ = false;
};

// Reads bytes that are not UTF-8 as ISO-8859-1 (every byte is a character).
std::string latin1_to_utf8(std::string_view bytes);

// A title as the daemon stores it: one line, white space folded, trimmed,
// at most max_bytes (cut between characters).
std::string clean_title(std::string_view bytes, std::size_t max_bytes);

}  // namespace flintmill::extract
