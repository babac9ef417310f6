#include "client/protocol.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <variant>

#include "flint/text.hpp"

namespace flintsearch::client {

bool operator==(const Hit& a, const Hit& b) {
    return a.title == b.title && a.path == b.path && a.snippet == b.snippet && a.score == b.score;
}
bool operator==(const Hits& a, const Hits& b) {
    return a.hits == b.hits;
}
bool operator==(const StatusInfo& a, const StatusInfo& b) {
    return a.indexed == b.indexed && a.pending == b.pending && a.model_ready == b.model_ready;
}
bool operator==(const Ok&, const Ok&) {
    return true;
}
bool operator==(const Error& a, const Error& b) {
    return a.message == b.message;
}

namespace {

using namespace std::string_literals;

TEST(EncodeRequest, WritesCompactLinesWithMembersInFixedOrder) {
    EXPECT_EQ(encode_request(Query{"cat", 10}),
              "{\"type\":\"query\",\"query\":\"cat\",\"limit\":10}\n");
    EXPECT_EQ(encode_request(Query{"cat", 10}).size(), 42u);
    EXPECT_EQ(encode_request(Status{}), "{\"type\":\"status\"}\n");
    EXPECT_EQ(encode_request(Reindex{}), "{\"type\":\"reindex\"}\n");
    EXPECT_EQ(encode_request(Query{"", 0}), "{\"type\":\"query\",\"query\":\"\",\"limit\":0}\n");
    EXPECT_EQ(encode_request(Query{"a", UINT64_MAX}),
              "{\"type\":\"query\",\"query\":\"a\",\"limit\":18446744073709551615}\n");
}

TEST(EncodeRequest, EscapesExactlyQuoteBackslashAndControlCharacters) {
    struct Row {
        std::string text;
        std::string json;  // the encoded "query" value, quotes included
    };
    const Row rows[] = {
        {"\"\\\t\xC3\xA9", R"("\"\\\té")"},
        {"\b\f\n\r", R"("\b\f\n\r")"},
        {"\x01\x1f\x0b"s, R"("\u0001\u001f\u000b")"},
        {"\0"s, R"("\u0000")"},
        {"\x7f/", "\"\x7f/\""},  // DEL and solidus go out unchanged
        {"\xF0\x9F\x94\x8D \xE2\x80\xA8", "\"\xF0\x9F\x94\x8D \xE2\x80\xA8\""},
        {" ", "\" \""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.json);
        const std::string line = encode_request(Query{row.text, 10});
        EXPECT_EQ(line, "{\"type\":\"query\",\"query\":" + row.json + ",\"limit\":10}\n");
        // The terminating line feed is the only one.
        EXPECT_EQ(line.find('\n'), line.size() - 1);
    }
}

TEST(EncodeRequest, ReplacesIllFormedUtf8SoTheLineStaysJson) {
    EXPECT_EQ(encode_request(Query{"a\xFF", 10}),
              "{\"type\":\"query\",\"query\":\"a\xEF\xBF\xBD\",\"limit\":10}\n");
}

// One row of the decoding table: the reply text and either the Response it
// decodes to or the exact description of the failure.
struct DecodeRow {
    const char* name;
    std::string text;
    std::variant<Response, std::string> expected;
};

Response hits(std::vector<Hit> list) {
    return Response{Hits{std::move(list)}};
}

TEST(DecodeResponse, AcceptsEveryReplyKind) {
    const Hit cat{"Cats", "/docs/cats.md", "Cats sleep.\nA lot.", 0.875f};
    const DecodeRow rows[] = {
        {"hits",
         R"({"type":"hits","hits":[{"title":"Cats","path":"/docs/cats.md","snippet":"Cats sleep.\nA lot.","score":0.875}]})",
         hits({cat})},
        {"type after an empty array", R"({"hits":[],"type":"hits"})", hits({})},
        {"hits keep their order",
         R"({"type":"hits","hits":[{"title":"a","path":"p","snippet":"s","score":1},{"title":"b","path":"q","snippet":"t","score":0}]})",
         hits({{"a", "p", "s", 1.0f}, {"b", "q", "t", 0.0f}})},
        {"unknown members skipped, in hits too",
         R"({"took_ms":3,"hits":[{"extra":{"deep":[1,{"title":5}]},"score":1,"snippet":"s","path":"p","title":"t","title2":null}],"type":"hits","message":null,"indexed":-1})",
         hits({{"t", "p", "s", 1.0f}})},
        {"unknown members may repeat", R"({"type":"ok","x":1,"x":2,"type2":"a","type2":"b"})",
         Response{Ok{}}},
        {"ok with members", R"({"type":"ok","hits":"none","message":7})", Response{Ok{}}},
        {"error", R"({"type":"error","message":"index locked"})", Response{Error{"index locked"}}},
        {"status_info", R"({"model_ready":false,"type":"status_info","indexed":5,"pending":0})",
         Response{StatusInfo{5, 0, false}}},
        {"status_info extremes",
         R"({"type":"status_info","indexed":18446744073709551615,"pending":-0,"model_ready":true})",
         Response{StatusInfo{UINT64_MAX, 0, true}}},
        {"score narrows to float",
         R"({"type":"hits","hits":[{"title":"","path":"","snippet":"","score":0.1}]})",
         hits({{"", "", "", 0.1f}})},
        {"negative and exponent scores",
         R"({"type":"hits","hits":[{"title":"","path":"","snippet":"","score":-2.5e-1},{"title":"","path":"","snippet":"","score":-3}]})",
         hits({{"", "", "", -0.25f}, {"", "", "", -3.0f}})},
        {"score beyond float range",
         R"({"type":"hits","hits":[{"title":"","path":"","snippet":"","score":1e300}]})",
         hits({{"", "", "", INFINITY}})},
        {"escapes decoded", R"({"type":"error","message":"\u00e9\ud83d\udd0d\"\\\/\u0000"})",
         Response{Error{"\xC3\xA9\xF0\x9F\x94\x8D\"\\/\0"s}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto got = decode_response(row.text);
        ASSERT_TRUE(got.has_value()) << got.error().description;
        EXPECT_TRUE(*got == std::get<Response>(row.expected));
    }
}

TEST(DecodeResponse, NarrowsJustBeyondFloatMaxToNearest) {
    const auto got = decode_response(
        R"({"type":"hits","hits":[{"title":"","path":"","snippet":"","score":3.4028235e38}]})");
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(std::get<Hits>(*got).hits.at(0).score, FLT_MAX);
}

TEST(DecodeResponse, RejectsRuleBreakersWithClearDescriptions) {
    const DecodeRow rows[] = {
        {"missing type", R"({"hits":[]})", R"(missing field "type")"},
        {"duplicate type", R"({"type":"ok","type":"ok"})", R"(duplicate field "type")"},
        {"type not a string", R"({"type":null})",
         R"(invalid type for "type": expected a string, found null)"},
        {"unknown variant", R"({"type":"foo"})",
         R"(unknown variant "foo", expected one of "hits", "status_info", "ok", "error")"},
        {"type is case sensitive", R"({"type":"OK"})",
         R"(unknown variant "OK", expected one of "hits", "status_info", "ok", "error")"},
        {"array at top", R"([{"type":"ok"}])",
         "invalid type: expected the reply to be a JSON object, found an array"},
        {"string at top", R"("ok")",
         "invalid type: expected the reply to be a JSON object, found a string"},
        {"missing hits", R"({"type":"hits"})", R"(missing field "hits")"},
        {"duplicate hits", R"({"type":"hits","hits":[],"hits":[]})", R"(duplicate field "hits")"},
        {"hits not an array", R"({"type":"hits","hits":{}})",
         R"(invalid type for "hits": expected an array, found an object)"},
        {"hit not an object", R"({"type":"hits","hits":[3]})",
         "invalid type for hits[0]: expected an object, found the number 3"},
        {"one bad hit fails all",
         R"({"type":"hits","hits":[{"title":"a","path":"p","snippet":"s","score":1},{"title":"a","path":"p","snippet":"s"}]})",
         R"(missing field "score" in hits[1])"},
        {"null title",
         R"({"type":"hits","hits":[{"title":null,"path":"p","snippet":"s","score":1}]})",
         R"(invalid type for "title" in hits[0]: expected a string, found null)"},
        {"duplicate in hit",
         R"({"type":"hits","hits":[{"title":"a","path":"p","path":"q","snippet":"s","score":1}]})",
         R"(duplicate field "path" in hits[0])"},
        {"score a string",
         R"({"type":"hits","hits":[{"title":"a","path":"p","snippet":"s","score":"0.5"}]})",
         R"(invalid type for "score" in hits[0]: expected a number, found a string)"},
        {"snippet an array",
         R"({"type":"hits","hits":[{"title":"a","path":"p","snippet":["s"],"score":1}]})",
         R"(invalid type for "snippet" in hits[0]: expected a string, found an array)"},
        {"pending negative",
         R"({"type":"status_info","indexed":5,"pending":-1,"model_ready":false})",
         R"(invalid value for "pending": expected a non-negative 64-bit integer, found the number -1)"},
        {"pending fraction",
         R"({"type":"status_info","indexed":5,"pending":2.5,"model_ready":false})",
         R"(invalid value for "pending": expected a non-negative 64-bit integer, found the number 2.5)"},
        {"integral fraction",
         R"({"type":"status_info","indexed":5.0,"pending":0,"model_ready":false})",
         R"(invalid value for "indexed": expected a non-negative 64-bit integer, found the number 5.0)"},
        {"indexed beyond 64 bits",
         R"({"type":"status_info","indexed":18446744073709551616,"pending":0,"model_ready":false})",
         R"(invalid value for "indexed": expected a non-negative 64-bit integer, found the number 18446744073709551616)"},
        {"indexed a string",
         R"({"type":"status_info","indexed":"5","pending":0,"model_ready":false})",
         R"(invalid type for "indexed": expected a non-negative integer, found a string)"},
        {"model_ready a number",
         R"({"type":"status_info","indexed":5,"pending":0,"model_ready":1})",
         R"(invalid type for "model_ready": expected a boolean, found the number 1)"},
        {"model_ready missing", R"({"type":"status_info","indexed":5,"pending":0})",
         R"(missing field "model_ready")"},
        {"message null", R"({"type":"error","message":null})",
         R"(invalid type for "message": expected a string, found null)"},
        {"message missing", R"({"type":"error"})", R"(missing field "message")"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto got = decode_response(row.text);
        ASSERT_FALSE(got.has_value());
        EXPECT_EQ(got.error().description, std::get<std::string>(row.expected));
    }
}

TEST(DecodeResponse, ReportsTheParsersDescriptionForInvalidJson) {
    struct Row {
        const char* name;
        std::string text;
    };
    const Row rows[] = {
        {"empty", ""},
        {"trailing value", R"({"type":"ok"} {"type":"ok"})"},
        {"second line", "{\"type\":\"ok\"}\n{"},
        {"truncated", R"({"type":"hits","hits":[)"},
        {"comment", R"({"type":"ok"} // done)"},
        {"single quotes", "{'type':'ok'}"},
        {"trailing comma", R"({"type":"ok",})"},
        {"invalid UTF-8", "{\"type\":\"error\",\"message\":\"\xFF\"}"},
        {"encoded surrogate", "{\"type\":\"error\",\"message\":\"\xED\xA0\x80\"}"},
        {"lone high surrogate", R"({"type":"error","message":"\ud800"})"},
        {"lone low surrogate", R"({"type":"error","message":"\udc00"})"},
        {"raw control character", "{\"type\":\"error\",\"message\":\"a\tb\"}"},
        {"number overflow", R"({"type":"hits","hits":[{"score":1e400}]})"},
        {"NUL byte after the value", "{\"type\":\"ok\"}\0{"s},
        {"NUL byte inside", "{\"type\":\"ok\"\0}"s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto got = decode_response(row.text);
        ASSERT_FALSE(got.has_value());
        const std::string& d = got.error().description;
        // The parser's own words differ between its releases; what matters
        // is that they go into a message row as readable, bounded text.
        EXPECT_FALSE(d.empty());
        EXPECT_TRUE(flint::is_valid_utf8(d)) << d;
        EXPECT_FALSE(d.starts_with("[json.exception")) << d;
        EXPECT_LE(d.size(), 310u);
    }
}

TEST(DecodeResponse, KeepsTheFirstHitsAndCountsTheRestWhileCheckingThemAll) {
    auto reply = [](std::size_t count, std::size_t bad_at) {
        std::string text = R"({"type":"hits","hits":[)";
        for (std::size_t i = 0; i < count; ++i) {
            text += i == 0 ? "" : ",";
            text += i == bad_at ? R"({"title":"t","path":"/p","snippet":""})"
                                : R"({"title":"t","path":"/p/)" + std::to_string(i) +
                                      R"(","snippet":"","score":0.5})";
        }
        return text + "]}";
    };
    const auto many = decode_response(reply(100'000, SIZE_MAX));
    ASSERT_TRUE(many.has_value()) << many.error().description;
    const auto& hits = std::get<Hits>(*many);
    ASSERT_EQ(hits.hits.size(), MAX_KEPT_HITS);
    EXPECT_EQ(hits.hits.back().path, "/p/" + std::to_string(MAX_KEPT_HITS - 1));
    EXPECT_EQ(hits.left_out, 100'000 - MAX_KEPT_HITS);
    EXPECT_EQ(std::get<Hits>(*decode_response(reply(3, SIZE_MAX))).left_out, 0u);
    // A broken hit past the kept ones still fails the reply.
    const auto broken = decode_response(reply(5000, 4000));
    ASSERT_FALSE(broken.has_value());
    EXPECT_EQ(broken.error().description, "missing field \"score\" in hits[4000]");
}

TEST(DecodeResponse, KeepsDescriptionsShortForHugeInput) {
    const std::string text =
        "{\"type\":\"error\",\"message\":\"" + std::string(100000, 'a') + "\xFF\"}";
    const auto got = decode_response(text);
    ASSERT_FALSE(got.has_value());
    EXPECT_LE(got.error().description.size(), 310u);

    const auto variant = decode_response("{\"type\":\"" + std::string(5000, 'z') + "\"}");
    ASSERT_FALSE(variant.has_value());
    EXPECT_TRUE(variant.error().description.starts_with("unknown variant \"zzz"));
    EXPECT_LE(variant.error().description.size(), 310u);
}

TEST(DecodeResponse, RefusesNestingDeeperThanAReplyNeedsAtOnce) {
    const auto nested = [](std::size_t levels, std::size_t closed) {
        return R"({"type":"ok","junk":)" + std::string(levels, '[') + std::string(closed, ']') +
               "}";
    };
    const std::string refusal = "the reply nests arrays or objects more than 16 deep";
    // The reply object is the first level.
    EXPECT_TRUE(decode_response(nested(MAX_REPLY_DEPTH - 1, MAX_REPLY_DEPTH - 1)).has_value());
    for (const std::size_t levels : {MAX_REPLY_DEPTH, std::size_t{100'000}}) {
        SCOPED_TRACE(levels);
        const auto closed = decode_response(nested(levels, levels));
        ASSERT_FALSE(closed.has_value());
        EXPECT_EQ(closed.error().description, refusal);
    }
    // Refused where it goes too deep, before the rest is read (which would
    // otherwise report the missing end).
    const auto unclosed = decode_response(nested(64 * 1024 * 1024 / 8, 0));
    ASSERT_FALSE(unclosed.has_value());
    EXPECT_EQ(unclosed.error().description, refusal);
    const auto in_a_hit = decode_response(
        R"({"type":"hits","hits":[{"title":"a","path":"p","snippet":"s","score":1,"x":)" +
        std::string(20, '[') + "}");
    ASSERT_FALSE(in_a_hit.has_value());
    EXPECT_EQ(in_a_hit.error().description, refusal);
}

}  // namespace
}  // namespace flintsearch::client
