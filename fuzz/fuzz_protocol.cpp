// Daemon replies: decode_response on arbitrary bytes. Besides not crashing,
// an accepted reply must be a JSON document the DOM parser agrees with, and
// every text the decoder hands on (hit fields, messages, error descriptions)
// must be valid UTF-8 because it ends up in a label.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>
#include <variant>

#include "flint/text.hpp"
#include "fuzz_check.hpp"
#include "wire/protocol.hpp"

namespace {

using flintsearch::client::decode_response;
using flintsearch::client::Error;
using flintsearch::client::Hits;
using flintsearch::client::StatusInfo;
using Json = nlohmann::json;

// The float the decoder should give for a JSON number, rounded by the same
// rules as a plain cast inside the float range.
float expected_score(const Json& score) {
    const double d = score.get<double>();
    if (std::fabs(d) > 3.5e38) {
        return d < 0 ? -INFINITY : INFINITY;
    }
    if (std::fabs(d) > static_cast<double>(FLT_MAX)) {
        // Between FLT_MAX and the rounding point: checked only for sign.
        return std::copysign(FLT_MAX, d);
    }
    return static_cast<float>(d);
}

void check_accepted(std::string_view text, const flintsearch::client::Response& response) {
    FUZZ_CHECK(text.find('\0') == std::string_view::npos);
    FUZZ_CHECK(Json::accept(text, false));
    const Json doc = Json::parse(text);
    FUZZ_CHECK(doc.is_object());
    FUZZ_CHECK(doc.contains("type") && doc["type"].is_string());
    const auto& type = doc["type"].get_ref<const std::string&>();

    if (const auto* hits = std::get_if<Hits>(&response)) {
        FUZZ_CHECK(type == "hits");
        const Json& list = doc["hits"];
        FUZZ_CHECK(list.is_array());
        FUZZ_CHECK(list.size() == hits->hits.size());
        for (std::size_t i = 0; i < hits->hits.size(); ++i) {
            const auto& hit = hits->hits[i];
            const Json& element = list[i];
            FUZZ_CHECK(element.is_object());
            FUZZ_CHECK(element.value("title", Json()) == hit.title);
            FUZZ_CHECK(element.value("path", Json()) == hit.path);
            FUZZ_CHECK(element.value("snippet", Json()) == hit.snippet);
            FUZZ_CHECK(flint::is_valid_utf8(hit.title) && flint::is_valid_utf8(hit.path) &&
                       flint::is_valid_utf8(hit.snippet));
            const Json& score = element["score"];
            FUZZ_CHECK(score.is_number());
            const float want = expected_score(score);
            if (std::fabs(want) == FLT_MAX) {
                FUZZ_CHECK(std::signbit(hit.score) == std::signbit(want));
                FUZZ_CHECK(std::fabs(hit.score) >= FLT_MAX);
            } else {
                FUZZ_CHECK(hit.score == want);
            }
        }
    } else if (const auto* status = std::get_if<StatusInfo>(&response)) {
        FUZZ_CHECK(type == "status_info");
        FUZZ_CHECK(doc["indexed"].is_number_unsigned() || doc["indexed"].is_number_integer());
        FUZZ_CHECK(doc["indexed"].get<std::uint64_t>() == status->indexed);
        FUZZ_CHECK(doc["pending"].get<std::uint64_t>() == status->pending);
        FUZZ_CHECK(doc["model_ready"].is_boolean());
        FUZZ_CHECK(doc["model_ready"].get<bool>() == status->model_ready);
    } else if (const auto* error = std::get_if<Error>(&response)) {
        FUZZ_CHECK(type == "error");
        FUZZ_CHECK(doc["message"].is_string());
        FUZZ_CHECK(doc["message"].get_ref<const std::string&>() == error->message);
        FUZZ_CHECK(flint::is_valid_utf8(error->message));
    } else {
        FUZZ_CHECK(type == "ok");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto decoded = decode_response(text);
    if (decoded) {
        check_accepted(text, *decoded);
    } else {
        FUZZ_CHECK(!decoded.error().description.empty());
        FUZZ_CHECK(flint::is_valid_utf8(decoded.error().description));
    }
    return 0;
}
