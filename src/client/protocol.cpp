#include "client/protocol.hpp"

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "flint/text.hpp"

namespace flintsearch::client {
namespace {

// ---------------------------------------------------------------------------
// Encoding

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    out += '"';
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += HEX[byte >> 4];
                    out += HEX[byte & 0x0F];
                } else {
                    // U+007F, "/" and every non-ASCII byte go out unchanged.
                    out += ch;
                }
        }
    }
    out += '"';
}

// ---------------------------------------------------------------------------
// Decoding
//
// The reply is read from the parser's events rather than from a document
// tree: a tree keeps only one of two equal keys, and a duplicated member has
// to be refused. "type" may come after the members it governs, so every
// member this client knows is captured first and judged once the whole value
// has been read.

using Json = nlohmann::json;

// What a captured member held: the JSON kind and, for scalars, the value.
struct Value {
    enum class Kind { Null, Boolean, Negative, Unsigned, Float, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::uint64_t unsigned_number = 0;
    double number = 0.0;
    std::string text;  // a string's value, or the source text of a number
};

// A member this client knows: how often it appeared and its first value.
struct Member {
    std::string_view name;
    int count = 0;
    Value value{};
};

// The member named key among a record's members, or nullptr.
template <class... Members>
Member* find_member(std::string_view key, Members&... members) {
    for (Member* m : {&members...}) {
        if (m->name == key) {
            return m;
        }
    }
    return nullptr;
}

std::string kind_name(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Null:
            return "null";
        case Value::Kind::Boolean:
            return v.boolean ? "true" : "false";
        case Value::Kind::Negative:
        case Value::Kind::Unsigned:
        case Value::Kind::Float:
            return "the number " + v.text;
        case Value::Kind::String:
            return "a string";
        case Value::Kind::Array:
            return "an array";
        case Value::Kind::Object:
            return "an object";
    }
    return "a value";
}

// Narrows to the nearest float. Beyond the float range a plain cast is
// undefined, so that case is rounded by hand as IEEE rounding would.
float narrow_to_float(double d) {
    if (std::fabs(d) <= static_cast<double>(FLT_MAX)) {
        return static_cast<float>(d);
    }
    // Half an ulp above FLT_MAX rounds (ties to even) to infinity.
    const double half_ulp = std::ldexp(1.0, FLT_MAX_EXP - FLT_MANT_DIG - 1);
    const float magnitude = std::fabs(d) < static_cast<double>(FLT_MAX) + half_ulp
                                ? FLT_MAX
                                : std::numeric_limits<float>::infinity();
    return d < 0 ? -magnitude : magnitude;
}

struct HitMembers {
    Member title{"title"}, path{"path"}, snippet{"snippet"}, score{"score"};

    Member* find(std::string_view key) { return find_member(key, title, path, snippet, score); }
};

struct TopMembers {
    Member type{"type"}, hits{"hits"}, indexed{"indexed"}, pending{"pending"},
        model_ready{"model_ready"}, message{"message"};

    Member* find(std::string_view key) {
        return find_member(key, type, hits, indexed, pending, model_ready, message);
    }
};

// Checks one member of the selected kind; `where` names the enclosing hit
// (" in hits[2]") or is empty at the top level.
std::optional<std::string> check_present(const Member& m, std::string_view name,
                                         std::string_view where) {
    if (m.count == 0) {
        return "missing field \"" + std::string(name) + "\"" + std::string(where);
    }
    if (m.count > 1) {
        return "duplicate field \"" + std::string(name) + "\"" + std::string(where);
    }
    return std::nullopt;
}

std::string invalid(std::string_view what, std::string_view name, std::string_view where,
                    std::string_view expected, const Value& found) {
    return "invalid " + std::string(what) + " for \"" + std::string(name) + "\"" +
           std::string(where) + ": expected " + std::string(expected) + ", found " +
           kind_name(found);
}

Result<std::string, std::string> take_string(Member& m, std::string_view name,
                                             std::string_view where) {
    if (auto e = check_present(m, name, where)) {
        return unexpected(std::move(*e));
    }
    if (m.value.kind != Value::Kind::String) {
        return unexpected(invalid("type", name, where, "a string", m.value));
    }
    return std::move(m.value.text);
}

Result<std::uint64_t, std::string> take_count(Member& m, std::string_view name) {
    if (auto e = check_present(m, name, "")) {
        return unexpected(std::move(*e));
    }
    switch (m.value.kind) {
        case Value::Kind::Unsigned:
            return m.value.unsigned_number;
        case Value::Kind::Negative:
        case Value::Kind::Float:  // a fraction, or an integer beyond 64 bits
            return unexpected(invalid("value", name, "", "a non-negative 64-bit integer", m.value));
        default:
            return unexpected(invalid("type", name, "", "a non-negative integer", m.value));
    }
}

// Receives the parser's events for one reply.
class ReplyReader final : public nlohmann::json_sax<Json> {
  public:
    bool null() override { return scalar(Value{}); }
    bool boolean(bool b) override {
        Value v;
        v.kind = Value::Kind::Boolean;
        v.boolean = b;
        return scalar(std::move(v));
    }
    bool number_integer(number_integer_t n) override {
        // The parser only reports negative integers here ("-0" comes as 0).
        Value v;
        v.kind = n < 0 ? Value::Kind::Negative : Value::Kind::Unsigned;
        v.unsigned_number = n < 0 ? 0 : static_cast<std::uint64_t>(n);
        v.number = static_cast<double>(n);
        v.text = std::to_string(n);
        return scalar(std::move(v));
    }
    bool number_unsigned(number_unsigned_t n) override {
        Value v;
        v.kind = Value::Kind::Unsigned;
        v.unsigned_number = n;
        v.number = static_cast<double>(n);
        v.text = std::to_string(n);
        return scalar(std::move(v));
    }
    bool number_float(number_float_t n, const string_t& source) override {
        Value v;
        v.kind = Value::Kind::Float;
        v.number = n;
        v.text = source;
        return scalar(std::move(v));
    }
    bool string(string_t& s) override {
        Value v;
        v.kind = Value::Kind::String;
        v.text = std::move(s);
        return scalar(std::move(v));
    }
    bool binary(binary_t&) override { return true; }  // never produced for JSON text

    bool key(string_t& k) override {
        key_ = std::move(k);
        return true;
    }

    bool start_object(std::size_t) override { return start(Value::Kind::Object); }
    bool start_array(std::size_t) override { return start(Value::Kind::Array); }
    bool end_object() override { return end(); }
    bool end_array() override { return end(); }

    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& e) override {
        syntax_error_ = e.what();
        return false;
    }

    Result<Response, DecodeError> finish(bool parsed);

  private:
    enum class Frame { Top, HitsArray, Hit, Skip };

    // The member that the next value belongs to, or nullptr when it is
    // skipped.
    Member* target() {
        if (frames_.empty() || frames_.back() == Frame::Skip) {
            return nullptr;
        }
        if (frames_.back() == Frame::Top) {
            return top_.find(key_);
        }
        if (frames_.back() == Frame::Hit) {
            return hit_.find(key_);
        }
        return nullptr;
    }

    bool scalar(Value v) {
        if (!root_seen_) {
            root_seen_ = true;
            root_kind_ = std::move(v);
            return true;
        }
        if (!frames_.empty() && frames_.back() == Frame::HitsArray) {
            hit_element_error(v);
            ++hit_index_;
            return true;
        }
        if (Member* m = target()) {
            if (m->count++ == 0) {
                m->value = std::move(v);
            }
        }
        return true;
    }

    bool start(Value::Kind kind) {
        if (frames_.size() == MAX_REPLY_DEPTH) {
            too_deep_ = true;
            return false;  // stops the parser: nothing past here is read
        }
        Value v;
        v.kind = kind;
        if (!root_seen_) {
            root_seen_ = true;
            root_kind_ = v;
            frames_.push_back(kind == Value::Kind::Object ? Frame::Top : Frame::Skip);
            return true;
        }
        if (frames_.back() == Frame::HitsArray) {
            if (kind == Value::Kind::Object) {
                hit_ = HitMembers{};
                frames_.push_back(Frame::Hit);
            } else {
                hit_element_error(v);
                ++hit_index_;
                frames_.push_back(Frame::Skip);
            }
            return true;
        }
        Member* m = target();
        const bool first_hits = m == &top_.hits && m->count == 0;
        if (m != nullptr && m->count++ == 0) {
            m->value = v;
        }
        // Only the first "hits" array is read: a second one fails anyway.
        frames_.push_back(first_hits && kind == Value::Kind::Array ? Frame::HitsArray
                                                                   : Frame::Skip);
        return true;
    }

    bool end() {
        const Frame frame = frames_.back();
        frames_.pop_back();
        if (frame == Frame::Hit) {
            finish_hit();
        }
        return true;
    }

    std::string where() const { return " in hits[" + std::to_string(hit_index_) + "]"; }

    void hit_element_error(const Value& v) {
        if (!hits_error_) {
            hits_error_ = "invalid type for hits[" + std::to_string(hit_index_) +
                          "]: expected an object, found " + kind_name(v);
        }
    }

    void finish_hit() {
        const std::string at = where();
        ++hit_index_;
        if (hits_error_) {
            return;  // the reply fails already; the rest is not kept
        }
        Hit hit;
        auto title = take_string(hit_.title, "title", at);
        auto path = title ? take_string(hit_.path, "path", at) : title;
        auto snippet = path ? take_string(hit_.snippet, "snippet", at) : path;
        if (!snippet) {
            hits_error_ = std::move(snippet.error());
            return;
        }
        if (auto e = check_present(hit_.score, "score", at)) {
            hits_error_ = std::move(*e);
            return;
        }
        const Value& score = hit_.score.value;
        if (score.kind != Value::Kind::Unsigned && score.kind != Value::Kind::Negative &&
            score.kind != Value::Kind::Float) {
            hits_error_ = invalid("type", "score", at, "a number", score);
            return;
        }
        if (hits_.size() == MAX_KEPT_HITS) {
            ++left_out_;
            return;
        }
        hit.title = std::move(*title);
        hit.path = std::move(*path);
        hit.snippet = std::move(*snippet);
        hit.score = narrow_to_float(score.number);
        hits_.push_back(std::move(hit));
    }

    std::vector<Frame> frames_;
    std::string key_;
    bool root_seen_ = false;
    Value root_kind_;
    TopMembers top_;
    HitMembers hit_;
    std::size_t hit_index_ = 0;
    std::vector<Hit> hits_;
    std::size_t left_out_ = 0;
    std::optional<std::string> hits_error_;
    std::optional<std::string> syntax_error_;
    bool too_deep_ = false;  // nested past MAX_REPLY_DEPTH; the parse stopped there
};

// Makes a parser message fit for a message row: without the library's
// bracketed error id, valid UTF-8 (the quoted input it echoes may not be),
// and of bounded length (it may echo a whole long string).
std::string readable(std::string message) {
    if (message.starts_with("[json.exception.")) {
        const auto close = message.find("] ");
        if (close != std::string::npos) {
            message.erase(0, close + 2);
        }
    }
    message = flint::to_utf8_lossy(message);
    constexpr std::size_t MAX = 300;
    if (message.size() > MAX) {
        std::size_t cut = MAX;
        while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        message.resize(cut);
        message += "\u2026";
    }
    return message;
}

Result<Response, DecodeError> ReplyReader::finish(bool parsed) {
    auto fail = [](std::string text) { return unexpected(DecodeError{std::move(text)}); };
    if (too_deep_) {
        return fail("the reply nests arrays or objects more than " +
                    std::to_string(MAX_REPLY_DEPTH) + " deep");
    }
    if (!parsed || syntax_error_) {
        return fail(readable(syntax_error_.value_or("the reply is not valid JSON")));
    }
    if (root_kind_.kind != Value::Kind::Object) {
        return fail("invalid type: expected the reply to be a JSON object, found " +
                    kind_name(root_kind_));
    }
    auto type = take_string(top_.type, "type", "");
    if (!type) {
        return fail(std::move(type.error()));
    }
    if (*type == "hits") {
        if (auto e = check_present(top_.hits, "hits", "")) {
            return fail(std::move(*e));
        }
        if (top_.hits.value.kind != Value::Kind::Array) {
            return fail(invalid("type", "hits", "", "an array", top_.hits.value));
        }
        if (hits_error_) {
            return fail(std::move(*hits_error_));
        }
        return Response{Hits{std::move(hits_), left_out_}};
    }
    if (*type == "status_info") {
        auto indexed = take_count(top_.indexed, "indexed");
        if (!indexed) {
            return fail(std::move(indexed.error()));
        }
        auto pending = take_count(top_.pending, "pending");
        if (!pending) {
            return fail(std::move(pending.error()));
        }
        if (auto e = check_present(top_.model_ready, "model_ready", "")) {
            return fail(std::move(*e));
        }
        if (top_.model_ready.value.kind != Value::Kind::Boolean) {
            return fail(invalid("type", "model_ready", "", "a boolean", top_.model_ready.value));
        }
        return Response{StatusInfo{*indexed, *pending, top_.model_ready.value.boolean}};
    }
    if (*type == "ok") {
        return Response{Ok{}};
    }
    if (*type == "error") {
        auto message = take_string(top_.message, "message", "");
        if (!message) {
            return fail(std::move(message.error()));
        }
        return Response{Error{std::move(*message)}};
    }
    // The variant's name echoed back, shortened and made printable.
    return fail(readable("unknown variant \"" + *type +
                         "\", expected one of \"hits\", \"status_info\", \"ok\", \"error\""));
}

}  // namespace

std::string encode_request(const Request& request) {
    std::string line;
    struct Visitor {
        std::string& out;
        void operator()(const Query& q) const {
            out += R"({"type":"query","query":)";
            // Text from the entry is always UTF-8; anything else would make
            // the line invalid JSON, so ill-formed bytes become U+FFFD.
            if (flint::is_valid_utf8(q.query)) {
                append_json_string(out, q.query);
            } else {
                append_json_string(out, flint::to_utf8_lossy(q.query));
            }
            out += R"(,"limit":)";
            out += std::to_string(q.limit);
            out += '}';
        }
        void operator()(const Status&) const { out += R"({"type":"status"})"; }
        void operator()(const Reindex&) const { out += R"({"type":"reindex"})"; }
    };
    std::visit(Visitor{line}, request);
    line += '\n';
    return line;
}

Result<Response, DecodeError> decode_response(std::string_view text) {
    ReplyReader reader;
    bool parsed = false;
    try {
        // Strict: exactly one value, followed by nothing but white space;
        // no comments.
        parsed = Json::sax_parse(text, &reader, nlohmann::json::input_format_t::json, true, false);
    } catch (const std::exception& e) {
        return unexpected(DecodeError{readable(e.what())});
    }
    if (parsed) {
        // The parser takes a NUL byte for the end of the input, so a value
        // followed by a NUL and anything at all would pass; JSON text never
        // holds a raw NUL (inside a string it is refused as a control
        // character), so one left over means trailing garbage.
        if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
            return unexpected(DecodeError{"parse error at byte " + std::to_string(nul + 1) +
                                          ": unexpected NUL byte; expected end of input"});
        }
    }
    return reader.finish(parsed);
}

}  // namespace flintsearch::client
