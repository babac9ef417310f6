// Documents that are zip containers of XML: OpenDocument, Office Open XML
// and EPUB. Every member goes through ZipArchive's bounds and every XML
// member through parse_xml.
#include <algorithm>
#include <cctype>

#include "flintmill/extract/markup.hpp"
#include "flintmill/extract/zip_archive.hpp"

namespace flintmill::extract {
namespace {

using Parsed = flintsearch::Result<std::optional<XmlDoc>, Failure>;

// A member parsed as XML; nothing when the archive has no such member.
Parsed read_xml(ZipArchive& zip, const std::string& name) {
    auto bytes = zip.read(name);
    if (!bytes) {
        return flintsearch::unexpected(bytes.error());
    }
    if (!*bytes) {
        return std::optional<XmlDoc>();
    }
    auto doc = parse_xml(**bytes, name);
    if (!doc) {
        return flintsearch::unexpected(doc.error());
    }
    return std::optional<XmlDoc>(std::move(*doc));
}

xmlNode* root_of(const std::optional<XmlDoc>& doc) {
    return doc ? xmlDocGetRootElement(doc->get()) : nullptr;
}

// The Dublin Core title the container's metadata member names, or "".
std::string metadata_title(xmlNode* root) {
    xmlNode* title = root == nullptr ? nullptr : find_element(root, "title");
    return title == nullptr ? std::string() : text_under(title);
}

// The first element at or below root for which pick(node) holds, as text.
template <class Pick>
std::string first_text(xmlNode* root, Pick&& pick) {
    xmlNode* found = nullptr;
    walk(
        root,
        [&](xmlNode* node) {
            if (found == nullptr && node->type == XML_ELEMENT_NODE && pick(node)) {
                found = node;
            }
            return found == nullptr;
        },
        [](xmlNode*) {});
    return found == nullptr ? std::string() : text_under(found);
}

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), s.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// A Word paragraph styled as the title or a heading.
bool is_heading_paragraph(xmlNode* node) {
    if (local_name(node) != "p") {
        return false;
    }
    for (xmlNode* ppr = node->children; ppr != nullptr; ppr = ppr->next) {
        if (local_name(ppr) != "pPr") {
            continue;
        }
        for (xmlNode* style = ppr->children; style != nullptr; style = style->next) {
            if (local_name(style) == "pStyle") {
                const std::string value = attribute(style, "val");
                return starts_with_nocase(value, "title") || starts_with_nocase(value, "heading");
            }
        }
    }
    return false;
}

// A slide shape that is the slide's title placeholder.
bool is_title_shape(xmlNode* node) {
    if (local_name(node) != "sp") {
        return false;
    }
    xmlNode* placeholder = find_element(node, "ph");
    if (placeholder == nullptr) {
        return false;
    }
    const std::string type = attribute(placeholder, "type");
    return type == "title" || type == "ctrTitle";
}

// Text lives in <t> in all three Office Open XML formats.
const XmlTextRules OFFICE_RULES{
    {"p", "si", "br", "cr"}, {"tab"}, {"instrText", "delText", "rPh"}, {"t"}};
const XmlTextRules ODF_RULES{
    {"p", "h", "line-break"}, {"s", "tab", "table-cell"}, {"annotation", "tracked-changes"}, {}};

// The number in a member name like "ppt/slides/slide12.xml", for ordering.
std::uint64_t slide_number(std::string_view name) {
    std::uint64_t n = 0;
    for (const char c : name) {
        if (std::isdigit(static_cast<unsigned char>(c)) != 0 && n < (1ull << 40)) {
            n = n * 10 + static_cast<std::uint64_t>(c - '0');
        }
    }
    return n;
}

// Resolves an href found in an OPF file against the OPF's folder: "%XX"
// decoded, "." and ".." segments applied, never above the archive's root.
std::string resolve_href(std::string_view base_dir, std::string_view href) {
    const auto cut = href.find_first_of("#?");
    href = href.substr(0, cut);
    std::string decoded;
    for (std::size_t i = 0; i < href.size(); ++i) {
        if (href[i] == '%' && i + 2 < href.size() &&
            std::isxdigit(static_cast<unsigned char>(href[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(href[i + 2]))) {
            decoded.push_back(
                static_cast<char>(std::stoi(std::string(href.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            decoded.push_back(href[i]);
        }
    }
    std::vector<std::string> parts;
    const std::string path =
        decoded.starts_with('/') ? decoded.substr(1) : std::string(base_dir) + decoded;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const auto& part : parts) {
        out += (out.empty() ? "" : "/") + part;
    }
    return out;
}

#define TRY(var, expr)                               \
    auto var = (expr);                               \
    if (!var) {                                      \
        return flintsearch::unexpected(var.error()); \
    }

Outcome read_open_document(ZipArchive& zip, const Limits& limits) {
    TRY(content, read_xml(zip, "content.xml"));
    if (!*content) {
        return fail(FailureKind::Malformed, "OpenDocument without content.xml");
    }
    TextSink sink(limits.max_text_bytes);
    add_xml_text(root_of(*content), ODF_RULES, sink);
    TRY(meta, read_xml(zip, "meta.xml"));
    std::string title = metadata_title(root_of(*meta));
    if (title.empty()) {
        title = first_text(root_of(*content), [](xmlNode* n) { return local_name(n) == "h"; });
    }
    return Document{std::move(title), sink.take()};
}

Outcome read_office(Format format, ZipArchive& zip, const Limits& limits) {
    TextSink sink(limits.max_text_bytes);
    std::string heading;
    std::vector<std::string> members;
    if (format == Format::WordXml) {
        members = {"word/document.xml"};
    } else if (format == Format::SheetXml) {
        members = {"xl/sharedStrings.xml"};
    } else {
        for (auto& name : zip.names()) {
            if (name.starts_with("ppt/slides/slide") && name.ends_with(".xml") &&
                name.find('/', 11) == std::string::npos) {
                members.push_back(std::move(name));
            }
        }
        std::sort(members.begin(), members.end(),
                  [](const auto& a, const auto& b) { return slide_number(a) < slide_number(b); });
    }
    bool any = false;
    for (const auto& member : members) {
        if (sink.full()) {
            break;
        }
        TRY(doc, read_xml(zip, member));
        if (!*doc) {
            continue;
        }
        any = true;
        add_xml_text(root_of(*doc), OFFICE_RULES, sink);
        sink.paragraph();
        if (heading.empty() && format == Format::WordXml) {
            heading = first_text(root_of(*doc), is_heading_paragraph);
        } else if (heading.empty() && format == Format::SlidesXml) {
            heading = first_text(root_of(*doc), is_title_shape);
        }
    }
    // A workbook with no text cells has no shared strings; a document or a
    // presentation without its body is broken.
    if (!any && format != Format::SheetXml) {
        return fail(FailureKind::Malformed, "Office document without its body");
    }
    TRY(core, read_xml(zip, "docProps/core.xml"));
    std::string title = metadata_title(root_of(*core));
    return Document{title.empty() ? std::move(heading) : std::move(title), sink.take()};
}

Outcome read_epub(ZipArchive& zip, const Limits& limits) {
    TRY(container, read_xml(zip, "META-INF/container.xml"));
    xmlNode* rootfile =
        root_of(*container) ? find_element(root_of(*container), "rootfile") : nullptr;
    const std::string opf_path = rootfile ? attribute(rootfile, "full-path") : std::string();
    if (opf_path.empty()) {
        return fail(FailureKind::Malformed, "EPUB without a package document");
    }
    TRY(opf, read_xml(zip, opf_path));
    if (!*opf) {
        return fail(FailureKind::Malformed, "EPUB without its package document " + opf_path);
    }
    xmlNode* package = root_of(*opf);
    std::string title;
    if (xmlNode* metadata = find_element(package, "metadata")) {
        title = metadata_title(metadata);
    }
    const auto slash = opf_path.rfind('/');
    const std::string base = slash == std::string::npos ? "" : opf_path.substr(0, slash + 1);
    std::vector<std::string> chapters;
    xmlNode* manifest = find_element(package, "manifest");
    xmlNode* spine = find_element(package, "spine");
    for (xmlNode* ref = spine ? spine->children : nullptr; ref != nullptr; ref = ref->next) {
        const std::string id = local_name(ref) == "itemref" ? attribute(ref, "idref") : "";
        for (xmlNode* item = manifest && !id.empty() ? manifest->children : nullptr;
             item != nullptr; item = item->next) {
            if (local_name(item) == "item" && attribute(item, "id") == id) {
                chapters.push_back(resolve_href(base, attribute(item, "href")));
                break;
            }
        }
    }
    TextSink sink(limits.max_text_bytes);
    std::string page_title;
    std::string first_h1;
    for (const auto& chapter : chapters) {
        if (sink.full()) {
            break;
        }
        TRY(bytes, zip.read(chapter));
        if (!*bytes) {
            continue;
        }
        // Content documents are XHTML; the HTML parser reads them as a
        // browser would, named entities included, and never defines new ones.
        TRY(doc, parse_html(**bytes));
        add_html_text(xmlDocGetRootElement(doc->get()), sink, page_title, first_h1);
        sink.paragraph();
    }
    return Document{title.empty() ? std::move(first_h1) : std::move(title), sink.take()};
}

#undef TRY

}  // namespace

Outcome read_package(Format format, std::string_view bytes, const Limits& limits) {
    auto zip = ZipArchive::open(bytes, limits);
    if (!zip) {
        return flintsearch::unexpected(zip.error());
    }
    switch (format) {
        case Format::OpenDocument:
            return read_open_document(*zip, limits);
        case Format::Epub:
            return read_epub(*zip, limits);
        default:
            return read_office(format, *zip, limits);
    }
}

}  // namespace flintmill::extract
