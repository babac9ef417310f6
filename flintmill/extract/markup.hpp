// libxml2, used the one safe way: HTML through its HTML parser, XML with no
// entity substitution, no DTD loading, no network and the library's default
// size and depth limits. Documents are walked without recursion, so deep
// nesting cannot exhaust the stack.
//
// XmlDoc owns a parsed document; nodes handed out point into it and live as
// long as it does. Single-threaded (the worker is).
#pragma once

#include <libxml/tree.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "flintmill/extract/readers.hpp"
#include "flintmill/extract/text_sink.hpp"

namespace flintmill::extract {

struct XmlDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocFree>;

// An XML member of a container (what names it goes in messages). Refuses a
// document that declares entities: none of the formats read here needs one,
// and refusing them costs nothing whatever the library version does.
flintsearch::Result<XmlDoc, Failure> parse_xml(std::string_view bytes, std::string_view what);
// HTML or XHTML, as a browser would read it; UTF-8 unless the bytes are not
// and the page declares otherwise. Never fails on markup, only on memory.
flintsearch::Result<XmlDoc, Failure> parse_html(std::string_view bytes);

std::string_view local_name(const xmlNode* node);
bool named(const xmlNode* node, std::initializer_list<std::string_view> names);
// The attribute by local name (any namespace), or "" when absent.
std::string attribute(const xmlNode* node, std::string_view name);
// The first element with this local name at or below root, in document order.
xmlNode* find_element(xmlNode* root, std::string_view name);
// The text under node, white space folded, at most TITLE_BYTES.
std::string text_under(xmlNode* node);

// Visits the subtree at root in document order: enter(node) returns whether
// to descend, leave(node) follows for every node entered. Entity
// references are never descended into.
template <class Enter, class Leave>
void walk(xmlNode* root, Enter&& enter, Leave&& leave) {
    xmlNode* node = root;
    while (node != nullptr) {
        const bool descend = enter(node) && node->type != XML_ENTITY_REF_NODE;
        if (descend && node->children != nullptr) {
            node = node->children;
            continue;
        }
        while (node != nullptr) {
            leave(node);
            if (node == root) {
                return;
            }
            if (node->next != nullptr) {
                node = node->next;
                break;
            }
            node = node->parent;
        }
    }
}

// How a container's XML becomes text: which elements end a paragraph,
// which stand for a space, which are skipped with all they hold, and, when
// text_in is not empty, the only elements whose own text counts (Office
// Open XML keeps text in <t> and indentation elsewhere).
struct XmlTextRules {
    std::initializer_list<std::string_view> paragraphs;
    std::initializer_list<std::string_view> spaces;
    std::initializer_list<std::string_view> skipped;
    std::initializer_list<std::string_view> text_in;
};
void add_xml_text(xmlNode* root, const XmlTextRules& rules, TextSink& sink);

// HTML's text into the sink; its <title> and first <h1> into the strings
// given, when they are still empty.
void add_html_text(xmlNode* root, TextSink& sink, std::string& title, std::string& first_h1);

}  // namespace flintmill::extract
