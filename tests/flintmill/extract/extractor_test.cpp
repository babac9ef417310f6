// The extractor end to end: the real worker over files written here, the
// hostile ones included, and stand-in workers that hang or die.
#include "flintmill/extract/extractor.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.hpp"

namespace flintmill::extract {
namespace {

using flintsearch::test::TempDir;

// A zip of the given members, built with libzip in memory.
std::string make_zip(const std::vector<std::pair<std::string, std::string>>& members) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* out = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(out);
    zip_t* zip = zip_open_from_source(out, ZIP_TRUNCATE, &error);
    for (const auto& [name, bytes] : members) {
        zip_source_t* s = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
        zip_file_add(zip, name.c_str(), s, ZIP_FL_OVERWRITE);
    }
    zip_close(zip);
    zip_source_open(out);
    zip_source_seek(out, 0, SEEK_END);
    const auto size = zip_source_tell(out);
    zip_source_seek(out, 0, SEEK_SET);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    zip_source_read(out, bytes.data(), bytes.size());
    zip_source_close(out);
    zip_source_free(out);
    zip_error_fini(&error);
    return bytes;
}

// A one-page PDF showing each line in Helvetica, with a correct xref.
std::string make_pdf(const std::vector<std::string>& lines, const std::string& title) {
    std::string stream = "BT /F1 12 Tf 72 720 Td 14 TL\n";
    for (const auto& line : lines) {
        stream += "(" + line + ") Tj T*\n";
    }
    stream += "ET";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Title (" + title + ") >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const auto offset : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R /Info 6 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

const std::string BILLION_LAUGHS = [] {
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        xml += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) {
            xml += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
        }
        xml += "\">\n";
    }
    return xml +
           "]>\n<w:document xmlns:w=\"w\"><w:body><w:p><w:r><w:t>&lol9;</w:t></w:r></w:p>"
           "</w:body></w:document>";
}();

const std::string DOCX_BODY =
    "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
    "<w:body><w:p><w:pPr><w:pStyle w:val=\"Heading1\"/></w:pPr><w:r><w:t>Quarterly</w:t></w:r>"
    "<w:r><w:t xml:space=\"preserve\"> report</w:t></w:r></w:p><w:p><w:r><w:t>Revenue "
    "grew</w:t></w:r><w:r><w:instrText>PAGE</w:instrText></w:r></w:p></w:body></w:document>";

Limits test_limits() {
    Limits limits;
    limits.deadline = std::chrono::milliseconds(5000);
    limits.max_text_bytes = 4096;
    limits.max_file_bytes = 1 << 20;
    limits.max_unpacked_bytes = 4 << 20;
    limits.max_members = 50;
    return limits;
}

struct Case {
    const char* name;                    // file name in the temp folder
    std::string bytes;                   // its contents ("" for the special kinds below)
    std::optional<FailureKind> failure;  // what extraction must fail with, or nothing
    std::string title;                   // the title expected on success
    std::vector<std::string> has;        // in the text
    std::vector<std::string> lacks;      // not in the text
};

TEST(Extractor, ReadsEachFormatAndRefusesHostileFiles) {
    const std::string worker = find_worker();
    ASSERT_FALSE(worker.empty()) << "FLINTMILL_EXTRACT names no worker";
    TempDir dir;
    const std::string long_text(20000, 'x');
    const std::vector<Case> cases = {
        {"notes.txt",
         "Meeting notes\r\nwith   Ada\n",
         {},
         "notes",
         {"Meeting notes\nwith Ada"},
         {}},
        {"latin.txt", "caf\xe9 cr\xe8me", {}, "latin", {"caf\xc3\xa9 cr\xc3\xa8me"}, {}},
        {"binary.txt", std::string("ab\0cd", 5), FailureKind::Malformed, "", {}, {}},
        {"long.txt", long_text, {}, "long", {"xxxx"}, {}},
        {"readme.md",
         "Intro\n=====\n\nSee **the** [guide](http://x.example/g) and `code`.\n",
         {},
         "Intro",
         {"See the guide and code."},
         {"http://x.example", "**"}},
        {"page.html",
         "<html><head><title>Budget &amp; plans</title><style>p{}</style></head><body>"
         "<script>alert(1)</script><h1>Top</h1><p>caf\xc3\xa9</p></body></html>",
         {},
         "Budget & plans",
         {"Top\ncaf\xc3\xa9"},
         {"alert", "p{}"}},
        {"untitled.htm",
         "<body><h1>First heading</h1>text</body>",
         {},
         "First heading",
         {"text"},
         {}},
        {"paper.pdf",
         make_pdf({"Hello from a PDF", "second line"}, "The Paper"),
         {},
         "The Paper",
         {"Hello from a PDF"},
         {}},
        {"notitle.pdf", make_pdf({"Opening line"}, ""), {}, "Opening line", {"Opening line"}, {}},
        {"truncated.pdf", make_pdf({"cut"}, "x").substr(0, 60), FailureKind::Malformed, "", {}, {}},
        {"report.docx",
         make_zip({{"word/document.xml", DOCX_BODY},
                   {"docProps/core.xml",
                    "<cp:coreProperties xmlns:cp=\"c\" xmlns:dc=\"d\">"
                    "<dc:title></dc:title></cp:coreProperties>"}}),
         {},
         "Quarterly report",
         {"Quarterly report\nRevenue grew"},
         {"PAGE"}},
        {"book.xlsx",
         make_zip(
             {{"xl/sharedStrings.xml", "<sst><si><t>Apples</t></si><si><t>Pears</t></si></sst>"}}),
         {},
         "book",
         {"Apples\nPears"},
         {}},
        {"deck.pptx",
         make_zip(
             {{"ppt/slides/slide2.xml",
               "<p:sld xmlns:p=\"p\" xmlns:a=\"a\"><a:p><a:t>Later</a:t></a:p></p:sld>"},
              {"ppt/slides/slide1.xml",
               "<p:sld xmlns:p=\"p\" xmlns:a=\"a\"><p:sp><p:nvSpPr><p:nvPr><p:ph type=\"title\"/>"
               "</p:nvPr></p:nvSpPr><a:p><a:t>Launch</a:t></a:p></p:sp></p:sld>"}}),
         {},
         "Launch",
         {"Launch\nLater"},
         {}},
        {"letter.odt",
         make_zip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                   {"content.xml",
                    "<office:document-content xmlns:office=\"o\" xmlns:text=\"t\">"
                    "<office:body><text:h>Dear</text:h><text:p>Hello<text:s/>there"
                    "</text:p></office:body></office:document-content>"},
                   {"meta.xml",
                    "<office:document-meta xmlns:office=\"o\" xmlns:dc=\"d\">"
                    "<office:meta><dc:title>A letter</dc:title></office:meta>"
                    "</office:document-meta>"}}),
         {},
         "A letter",
         {"Dear\nHello there"},
         {}},
        {"novel.epub",
         make_zip({{"META-INF/container.xml",
                    "<container><rootfiles><rootfile "
                    "full-path=\"OEBPS/book.opf\"/></rootfiles></container>"},
                   {"OEBPS/book.opf",
                    "<package xmlns:dc=\"d\"><metadata><dc:title>The Novel</dc:title></metadata>"
                    "<manifest><item id=\"c2\" href=\"text/two.xhtml\"/><item id=\"c1\" "
                    "href=\"text/one%20a.xhtml\"/></manifest><spine><itemref idref=\"c1\"/>"
                    "<itemref idref=\"c2\"/></spine></package>"},
                   {"OEBPS/text/one a.xhtml",
                    "<html><body><p>Chapter one&nbsp;begins</p></body></html>"},
                   {"OEBPS/text/two.xhtml", "<html><body><p>Chapter two</p></body></html>"}}),
         {},
         "The Novel",
         {"Chapter one begins\nChapter two"},
         {}},
        // Hostile: each must fail fast and leave the worker able to go on.
        {"bomb.docx",
         make_zip({{"word/document.xml", std::string(8 << 20, ' ')}}),
         FailureKind::TooLarge,
         "",
         {},
         {}},
        {"many.docx",
         [] {
             std::vector<std::pair<std::string, std::string>> members;
             for (int i = 0; i < 60; ++i) {
                 members.emplace_back("m" + std::to_string(i), "x");
             }
             return make_zip(members);
         }(),
         FailureKind::TooLarge,
         "",
         {},
         {}},
        {"laughs.docx",
         make_zip({{"word/document.xml", BILLION_LAUGHS}}),
         FailureKind::Malformed,
         "",
         {},
         {}},
        {"notazip.odt", "PK\x03\x04 not really", FailureKind::Malformed, "", {}, {}},
        {"huge.txt", std::string((1 << 20) + 1, 'a'), FailureKind::TooLarge, "", {}, {}},
        {"fifo.txt", "", FailureKind::Unreadable, "", {}, {}},
        {"link.txt", "", FailureKind::Unreadable, "", {}, {}},
        {"missing.txt", "", FailureKind::Unreadable, "", {}, {}},
        {"image.png", "\x89PNG", FailureKind::Unsupported, "", {}, {}},
    };
    for (const auto& c : cases) {
        if (!c.bytes.empty()) {
            dir.write(c.name, c.bytes);
        }
    }
    ASSERT_EQ(::mkfifo(dir.file("fifo.txt").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir.file("notes.txt"), dir.file("link.txt"));

    Extractor extractor(worker, test_limits());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        const auto result = extractor.extract(dir.file(c.name));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        if (c.failure) {
            ASSERT_FALSE(result) << "text: " << result->text.substr(0, 80);
            EXPECT_EQ(result.error().kind, *c.failure) << result.error().message;
            continue;
        }
        ASSERT_TRUE(result) << result.error().message;
        EXPECT_EQ(result->title, c.title);
        EXPECT_LE(result->text.size(), test_limits().max_text_bytes);
        for (const auto& s : c.has) {
            EXPECT_NE(result->text.find(s), std::string::npos) << s << " not in: " << result->text;
        }
        for (const auto& s : c.lacks) {
            EXPECT_EQ(result->text.find(s), std::string::npos) << s << " in: " << result->text;
        }
    }
}

// Stand-in workers: the first start misbehaves, later ones run the real
// worker, so the file after the failure shows the extractor recovered.
TEST(Extractor, KillsAHungWorkerAndReplacesADeadOne) {
    const std::string worker = find_worker();
    ASSERT_FALSE(worker.empty());
    struct Row {
        const char* name;
        const char* first_start;
        FailureKind kind;
    };
    const Row rows[] = {
        {"hangs", "exec sleep 60", FailureKind::Timeout},
        {"crashes", "kill -SEGV $$", FailureKind::Crashed},
        {"lies about its reply size",
         "printf '\\000\\377\\377\\377\\177\\000\\000\\000\\000'; exec sleep 60",
         FailureKind::Crashed},
        {"is missing", nullptr, FailureKind::Crashed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const auto good = dir.write("good.txt", "fine text").string();
        std::string script = dir.file("worker.sh");
        if (row.first_start != nullptr) {
            dir.write("worker.sh", "#!/bin/sh\nif [ -e " + dir.file("started") + " ]; then exec " +
                                       worker + " \"$@\"; fi\n: > " + dir.file("started") + "\n" +
                                       row.first_start + "\n");
            ::chmod(script.c_str(), 0700);
        }
        Limits limits = test_limits();
        limits.deadline = std::chrono::milliseconds(500);
        Extractor extractor(script, limits);
        const auto start = std::chrono::steady_clock::now();
        const auto first = extractor.extract(good);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        ASSERT_FALSE(first);
        EXPECT_EQ(first.error().kind, row.kind) << first.error().message;
        if (row.first_start != nullptr) {
            const auto second = extractor.extract(good);
            ASSERT_TRUE(second) << second.error().message;
            EXPECT_EQ(second->text, "fine text");
        }
    }
}

}  // namespace
}  // namespace flintmill::extract
