#include "flintmill/extract/markup.hpp"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <string.h>

#include <climits>

#include "flint/text.hpp"

namespace flintmill::extract {
namespace {

std::string_view to_view(const xmlChar* s) {
    return s == nullptr ? std::string_view() : std::string_view(reinterpret_cast<const char*>(s));
}

template <class Names>
bool contains(const Names& names, std::string_view name) {
    for (const std::string_view n : names) {
        if (n == name) {
            return true;
        }
    }
    return false;
}

bool too_big_for_libxml(std::string_view bytes) {
    return bytes.size() > static_cast<std::size_t>(INT_MAX);
}

}  // namespace

flintsearch::Result<XmlDoc, Failure> parse_xml(std::string_view bytes, std::string_view what) {
    if (too_big_for_libxml(bytes)) {
        return fail(FailureKind::TooLarge, std::string(what) + " is too large to parse");
    }
    if (::memmem(bytes.data(), bytes.size(), "<!ENTITY", 8) != nullptr) {
        return fail(FailureKind::Malformed, std::string(what) + " declares entities");
    }
    // Deliberately absent: XML_PARSE_NOENT (substitution), XML_PARSE_DTDLOAD,
    // XML_PARSE_DTDATTR, XML_PARSE_XINCLUDE and XML_PARSE_HUGE, which lifts
    // the library's limits on text node size and nesting depth.
    constexpr int options =
        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
    XmlDoc doc(
        xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, options));
    if (!doc || xmlDocGetRootElement(doc.get()) == nullptr) {
        return fail(FailureKind::Malformed, std::string(what) + " is not well-formed XML");
    }
    return doc;
}

flintsearch::Result<XmlDoc, Failure> parse_html(std::string_view bytes) {
    if (too_big_for_libxml(bytes)) {
        return fail(FailureKind::TooLarge, "too large to parse");
    }
    constexpr int options =
        HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_COMPACT;
    // Without a declared encoding libxml2 may guess Latin-1; bytes that are
    // valid UTF-8 are nearly always meant as UTF-8.
    const char* encoding = flint::is_valid_utf8(bytes) ? "UTF-8" : nullptr;
    XmlDoc doc(
        htmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, encoding, options));
    if (!doc) {
        return fail(FailureKind::Malformed, "not readable as HTML");
    }
    return doc;
}

std::string_view local_name(const xmlNode* node) {
    return node->type == XML_ELEMENT_NODE ? to_view(node->name) : std::string_view();
}

bool named(const xmlNode* node, std::initializer_list<std::string_view> names) {
    return node->type == XML_ELEMENT_NODE && contains(names, to_view(node->name));
}

std::string attribute(const xmlNode* node, std::string_view name) {
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        if (to_view(a->name) == name && a->children != nullptr &&
            a->children->type == XML_TEXT_NODE) {
            return std::string(to_view(a->children->content));
        }
    }
    return {};
}

xmlNode* find_element(xmlNode* root, std::string_view name) {
    xmlNode* found = nullptr;
    walk(
        root,
        [&](xmlNode* node) {
            if (found == nullptr && local_name(node) == name) {
                found = node;
            }
            return found == nullptr;
        },
        [](xmlNode*) {});
    return found;
}

std::string text_under(xmlNode* node) {
    TextSink sink(TITLE_BYTES);
    walk(
        node,
        [&](xmlNode* n) {
            if (n->type == XML_TEXT_NODE) {
                sink.add(to_view(n->content));
            }
            return !sink.full();
        },
        [](xmlNode*) {});
    return sink.take();
}

void add_xml_text(xmlNode* root, const XmlTextRules& rules, TextSink& sink) {
    walk(
        root,
        [&](xmlNode* node) {
            if (sink.full()) {
                return false;
            }
            if (node->type == XML_TEXT_NODE) {
                if (rules.text_in.size() == 0 ||
                    (node->parent != nullptr && named(node->parent, rules.text_in))) {
                    sink.add(to_view(node->content));
                }
                return false;
            }
            if (node->type != XML_ELEMENT_NODE) {
                return false;
            }
            if (named(node, rules.spaces)) {
                sink.space();
            }
            return !named(node, rules.skipped);
        },
        [&](xmlNode* node) {
            if (named(node, rules.paragraphs)) {
                sink.paragraph();
            }
        });
}

void add_html_text(xmlNode* root, TextSink& sink, std::string& title, std::string& first_h1) {
    static constexpr std::string_view skipped[] = {"script",   "style", "noscript",
                                                   "template", "head",  "title"};
    static constexpr std::string_view blocks[] = {
        "p",       "div",        "br",      "li",         "ul",     "ol",      "dl",   "dt",
        "dd",      "h1",         "h2",      "h3",         "h4",     "h5",      "h6",   "tr",
        "table",   "section",    "article", "aside",      "header", "footer",  "nav",  "main",
        "pre",     "blockquote", "figure",  "figcaption", "hr",     "address", "form", "fieldset",
        "details", "summary",    "caption", "body"};
    walk(
        root,
        [&](xmlNode* node) {
            if (node->type == XML_TEXT_NODE) {
                sink.add(to_view(node->content));
                return false;
            }
            if (node->type != XML_ELEMENT_NODE || sink.full()) {
                return false;
            }
            const auto name = local_name(node);
            // The head holds nothing to read but its title.
            if ((name == "head" || name == "title") && title.empty()) {
                if (xmlNode* t = name == "title" ? node : find_element(node, "title")) {
                    title = text_under(t);
                }
            }
            if (name == "h1" && first_h1.empty()) {
                first_h1 = text_under(node);
            }
            if (name == "td" || name == "th") {
                sink.space();
            }
            if (contains(blocks, name)) {
                sink.paragraph();
            }
            return !contains(skipped, name);
        },
        [&](xmlNode* node) {
            if (node->type == XML_ELEMENT_NODE && contains(blocks, local_name(node))) {
                sink.paragraph();
            }
        });
}

}  // namespace flintmill::extract

namespace flintmill::extract {

Outcome read_html(std::string_view bytes, const Limits& limits) {
    if (bytes.empty()) {
        return Document{};
    }
    auto doc = parse_html(bytes);
    if (!doc) {
        return flintsearch::unexpected(doc.error());
    }
    TextSink sink(limits.max_text_bytes);
    std::string title;
    std::string first_h1;
    if (xmlNode* root = xmlDocGetRootElement(doc->get())) {
        add_html_text(root, sink, title, first_h1);
    }
    return Document{title.empty() ? std::move(first_h1) : std::move(title), sink.take()};
}

}  // namespace flintmill::extract
