// Finding the files a stylesheet names, and vetting them before GTK sees
// the text: what the scanner takes for a reference, and what vetting makes
// of each kind of target.
#include "flint/css_refs.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "theme_test_support.hpp"

namespace {

namespace fs = std::filesystem;
using theme_test::TempDir;

// Each reference as "kind target = its bytes", flags after the kind.
std::vector<std::string> refs_of(const std::string& css) {
    std::vector<std::string> out;
    for (const flint::CssRef& ref : flint::scan_css(css).refs) {
        std::string kind = ref.kind == flint::CssRefKind::Url ? "url" : "import";
        kind += ref.nested ? " nested" : "";
        kind += ref.trailing ? " trailing" : "";
        out.push_back(kind + " " + ref.target.value_or("(malformed)") + " = " +
                      css.substr(ref.begin, ref.end - ref.begin));
    }
    return out;
}

TEST(CssRefs, ScannerSeesWhatGtksTokenizerSees) {
    struct Case {
        std::string css;
        std::vector<std::string> refs;
    };
    const std::vector<Case> cases = {
        {"a { background-image: url(a.png); }", {"url a.png = url(a.png)"}},
        {"a{b:url( \"b c.png\" )}", {"url b c.png = url( \"b c.png\" )"}},
        {"a{b:url(  c.png  )}", {"url c.png = url(  c.png  )"}},
        {"/* url(x.png) @import \"y\"; */ a{}", {}},
        {"a { content: \"url(x.png)\"; } b { content: 'a\\'url(y)'; }", {}},
        {"u\\72l(x.png) U\\52L( y ) \\75 rl(z) \\u\\r\\l(w)",
         {"url x.png = u\\72l(x.png)", "url y = U\\52L( y )", "url z = \\75 rl(z)",
          "url w = \\u\\r\\l(w)"}},
        {"url(a\\)b) url(/*c*/)", {"url a)b = url(a\\)b)", "url /*c*/ = url(/*c*/)"}},
        {"url(a b) url(\"a\" x) url(\"a\nb) c",
         {"url (malformed) = url(a b)", "url (malformed) = url(\"a\" x)",
          "url (malformed) = url(\"a\nb)"}},
        {"a { width: 10url(x); } #url(y) url-x(z)", {}},
        {"a { content: \"open\n} b { background: url(b) }", {"url b = url(b)"}},
        {"x { -gtk-icon-source: -gtk-scaled(url(a), url('b')); }",
         {"url a = url(a)", "url b = url('b')"}},
        {"@import \"a.css\";\nb{}", {"import a.css = @import \"a.css\";"}},
        {"@IMPORT url('a.css') ;", {"import a.css = @IMPORT url('a.css') ;"}},
        {"@\\69mport url(a;b.css); x{}", {"import a;b.css = @\\69mport url(a;b.css);"}},
        {"@import url(\"a.css\") screen and (x: \";\");",
         {"import trailing a.css = @import url(\"a.css\") screen and (x: \";\");"}},
        {"@import 12px; @import \"z\"",
         {"import trailing (malformed) = @import 12px;", "import z = @import \"z\""}},
        {"a { @import \"x\"; b: url(y) }", {"import nested x = @import \"x\";", "url y = url(y)"}},
        {"a { @import \"x\" }", {"import nested x = @import \"x\" "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.css);
        EXPECT_EQ(refs_of(c.css), c.refs);
    }
}

TEST(CssRefs, ClosingEndsWhatTheTextLeavesOpen) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a{} b{c:d}", ""}, {"a { color: red", "}"},      {"a { x: rgb(1,", ")}"},
        {"/* a", "*/"},     {"@define-color x red", ";"}, {"@define-color x rgb(1", ");"},
        {"a, b", "{}"},     {"a{content:\"abc", "\"}"},   {"a{content:\"ab\\", "\\\"}"},
        {"x \\", "\n{}"},
    };
    for (const auto& [css, closing] : cases) {
        SCOPED_TRACE(css);
        EXPECT_EQ(flint::scan_css(css).closing, closing);
    }
}

class CssVet : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::canonical(tmp_.path()).string();
        tmp_.write("main.css", "");
        tmp_.write("ok.png", "png");
        tmp_.write("sub/inner.css", "b { color: blue; } .i { background-image: url(pic.png); }");
        tmp_.write("sub/pic.png", "png");
        tmp_.write("open.css", ".u { color: red");
        tmp_.write("cyc1.css", "@import \"cyc2.css\"; .c1{}");
        tmp_.write("cyc2.css", "@import \"cyc1.css\"; .c2{}");
        for (int n = 0; n < 10; ++n) {
            tmp_.write("d" + std::to_string(n) + ".css",
                       "@import \"d" + std::to_string(n + 1) + ".css\";");
        }
        tmp_.write("shared/x.css", "x{}");
        ::chmod((tmp_.path() / "shared").c_str(), 0777);
        ASSERT_EQ(::mkfifo((tmp_.path() / "fifo").c_str(), 0600), 0);
    }

    // Replaces every "$D" with the temporary directory.
    std::string in_dir(std::string text) const {
        for (auto at = text.find("$D"); at != std::string::npos; at = text.find("$D", at)) {
            text.replace(at, 2, dir_);
        }
        return text;
    }

    TempDir tmp_;
    std::string dir_;
};

TEST_F(CssVet, RefusedReferencesGoAndTheRestStays) {
    struct Case {
        std::string css;
        std::string text;
        std::vector<std::string> refusals;
    };
    const std::string in = " in $D/main.css: ";
    const std::vector<Case> cases = {
        {"a{} /* url(fifo) */", "a{} /* url(fifo) */", {}},
        {"@import \"fifo\"; a { color: red; }",
         "  a { color: red; }",
         {"ignoring @import \"fifo\"" + in + "it is not a regular file"}},
        {"@import url(\"file:///dev/zero\");x{}",
         " x{}",
         {"ignoring @import \"file:///dev/zero\"" + in + "it is writable by every user"}},
        {"a { background-image: url(fifo); }",
         "a { background-image: none; }",
         {"ignoring url(\"fifo\")" + in + "it is not a regular file"}},
        {"a { b: url(ok.png); c: url(\"file://$D/o%6B.png\"); d: url(sub/../ok.png) }",
         "a { b: url(\"file://$D/ok.png\"); c: url(\"file://$D/ok.png\"); d: "
         "url(\"file://$D/ok.png\") }",
         {}},
        {"a { b: url(http://example.com/x.png); c: url(resource:///org/x.png); }",
         "a { b: none; c: url(resource:///org/x.png); }",
         {"ignoring url(\"http://example.com/x.png\")" + in + "it is not a local file"}},
        {"@import \"sub/inner.css\";\na{}",
         "\nb { color: blue; } .i { background-image: url(\"file://$D/sub/pic.png\"); }\n\na{}",
         {}},
        {"@import \"open.css\"; .after{}", "\n.u { color: red}\n .after{}", {}},
        {"@import \"cyc1.css\";",
         "\n\n  .c2{}\n .c1{}\n",
         {"ignoring @import \"cyc1.css\" in $D/cyc2.css: it imports itself"}},
        {"@import \"main.css\";",
         " ",
         {"ignoring @import \"main.css\"" + in + "it imports itself"}},
        {"@import \"d0.css\";",
         std::string(8, '\n') + " " + std::string(8, '\n'),
         {"ignoring @import \"d8.css\" in $D/d7.css: imports nest more than 8 deep"}},
        {"@import \"missing.css\"; @import \"sub/inner.css\" screen; @import 1px; a { @import "
         "\"ok.png\"; }",
         "      a {   }",
         {"ignoring @import \"missing.css\"" + in + "it does not exist"}},
        {"a{b:url@import \"no\";(fifo)}", "a{b:url (fifo)}", {}},
        {"@import \"shared/x.css\";",
         " ",
         {"ignoring @import \"shared/x.css\"" + in + "$D/shared is writable by every user"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.css);
        const flint::VettedCss vetted = flint::vet_css(in_dir(c.css), dir_ + "/main.css");
        EXPECT_EQ(vetted.text, in_dir(c.text));
        std::vector<std::string> expected;
        for (const auto& r : c.refusals) {
            expected.push_back(in_dir(r));
        }
        EXPECT_EQ(vetted.refusals, expected);
    }
}

TEST_F(CssVet, GeneratedTextHasNoDirectoryAndImportsShareOneSizeCap) {
    const auto generated = flint::vet_css("a{b:url(ok.png)}", "");
    EXPECT_EQ(generated.text, "a{b:none}");
    EXPECT_EQ(generated.refusals,
              std::vector<std::string>{"ignoring url(\"ok.png\") in the generated stylesheet: a "
                                       "relative reference needs a stylesheet file"});

    flint::CssVetLimits limits;
    limits.max_total = 20;
    const auto capped =
        flint::vet_css("@import \"open.css\";@import \"open.css\";", dir_ + "/main.css", limits);
    EXPECT_EQ(capped.text, "\n.u { color: red}\n ");
    EXPECT_EQ(capped.refusals,
              std::vector<std::string>{in_dir("ignoring @import \"open.css\" in $D/main.css: the "
                                              "imported stylesheets exceed 20 bytes")});
}

}  // namespace
