#include "flintmill/extract/channel.hpp"

#include <charconv>
#include <cstring>

namespace flintmill::extract {
namespace {

void put_u32(std::string& out, std::uint32_t value) {
    char bytes[4];
    std::memcpy(bytes, &value, 4);
    out.append(bytes, 4);
}

std::uint32_t get_u32(const char* bytes) {
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

// Each limit's argument name and where it lives.
struct Field {
    std::string_view name;
    std::uint64_t (*get)(const Limits&);
    void (*set)(Limits&, std::uint64_t);
};

const Field FIELDS[] = {
    {"--deadline-ms",
     [](const Limits& l) { return static_cast<std::uint64_t>(l.deadline.count()); },
     [](Limits& l, std::uint64_t v) { l.deadline = std::chrono::milliseconds(v); }},
    {"--max-text-bytes", [](const Limits& l) { return std::uint64_t{l.max_text_bytes}; },
     [](Limits& l, std::uint64_t v) { l.max_text_bytes = v; }},
    {"--max-file-bytes", [](const Limits& l) { return l.max_file_bytes; },
     [](Limits& l, std::uint64_t v) { l.max_file_bytes = v; }},
    {"--address-space-bytes", [](const Limits& l) { return l.address_space_bytes; },
     [](Limits& l, std::uint64_t v) { l.address_space_bytes = v; }},
    {"--max-unpacked-bytes", [](const Limits& l) { return l.max_unpacked_bytes; },
     [](Limits& l, std::uint64_t v) { l.max_unpacked_bytes = v; }},
    {"--max-ratio", [](const Limits& l) { return l.max_ratio; },
     [](Limits& l, std::uint64_t v) { l.max_ratio = v; }},
    {"--max-members", [](const Limits& l) { return std::uint64_t{l.max_members}; },
     [](Limits& l, std::uint64_t v) { l.max_members = v; }},
};

}  // namespace

std::string encode_request(std::string_view path) {
    std::string out;
    put_u32(out, static_cast<std::uint32_t>(path.size()));
    out.append(path);
    return out;
}

std::string encode_reply(const flintsearch::Result<Document, Failure>& outcome) {
    std::string out;
    if (outcome) {
        out.push_back(0);
        put_u32(out, static_cast<std::uint32_t>(outcome->title.size()));
        put_u32(out, static_cast<std::uint32_t>(outcome->text.size()));
        out.append(outcome->title).append(outcome->text);
    } else {
        const std::string_view message =
            std::string_view(outcome.error().message).substr(0, MAX_MESSAGE_BYTES);
        out.push_back(static_cast<char>(1 + static_cast<int>(outcome.error().kind)));
        put_u32(out, static_cast<std::uint32_t>(message.size()));
        put_u32(out, 0);
        out.append(message);
    }
    return out;
}

std::optional<ReplyHeader> decode_reply_header(std::string_view bytes, std::size_t max_title_bytes,
                                               std::size_t max_text_bytes) {
    if (bytes.size() != REPLY_HEADER_BYTES) {
        return std::nullopt;
    }
    const ReplyHeader header{static_cast<std::uint8_t>(bytes[0]), get_u32(bytes.data() + 1),
                             get_u32(bytes.data() + 5)};
    const bool document = header.status == 0;
    const bool failure = header.status >= 1 &&
                         header.status <= 1 + static_cast<int>(FailureKind::Crashed) &&
                         header.first <= MAX_MESSAGE_BYTES && header.second == 0;
    if (document ? header.first > max_title_bytes || header.second > max_text_bytes : !failure) {
        return std::nullopt;
    }
    return header;
}

std::vector<std::string> limits_to_args(const Limits& limits) {
    std::vector<std::string> args;
    for (const auto& field : FIELDS) {
        args.emplace_back(field.name);
        args.push_back(std::to_string(field.get(limits)));
    }
    return args;
}

std::optional<Limits> limits_from_args(const std::vector<std::string_view>& args) {
    Limits limits;
    if (args.size() % 2 != 0) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const Field* field = nullptr;
        for (const auto& f : FIELDS) {
            if (f.name == args[i]) {
                field = &f;
            }
        }
        std::uint64_t value = 0;
        const auto [end, error] =
            std::from_chars(args[i + 1].data(), args[i + 1].data() + args[i + 1].size(), value);
        if (field == nullptr || error != std::errc() ||
            end != args[i + 1].data() + args[i + 1].size()) {
            return std::nullopt;
        }
        field->set(limits, value);
    }
    return limits;
}

}  // namespace flintmill::extract
