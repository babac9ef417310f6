// Vetting arbitrary stylesheet text. Nothing it lets through may be refused
// on a second pass or still import anything, and a second pass changes
// nothing: whatever GTK is given holds no reference left unchecked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "flint/css_refs.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view css(reinterpret_cast<const char*>(data), size);
    const flint::VettedCss once = flint::vet_css(css, "");
    for (const flint::CssRef& ref : flint::scan_css(once.text).refs) {
        FUZZ_CHECK(ref.kind == flint::CssRefKind::Url);
        FUZZ_CHECK(ref.begin <= ref.end && ref.end <= once.text.size());
    }
    const flint::VettedCss twice = flint::vet_css(once.text, "");
    FUZZ_CHECK(twice.refusals.empty());
    FUZZ_CHECK(twice.text == once.text);
    return 0;
}
