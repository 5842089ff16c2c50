// The address forms on arbitrary text: no crash, no hang, no undefined
// behaviour; and a stored address reads back as itself, also through its
// display form.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bookmarks/url_forms.h"
#include "platform/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace Core_ZorvaneMerge;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::u16string wide = Core_Platform::ansi_to_wide(text);

    (void)build_url(parse_url(text));
    (void)build_url(parse_url(std::u16string_view(wide)));
    (void)percent_decode(text);
    (void)encode_host(text);
    (void)encode_path_segment(text);
    (void)comparison_key(text);
    (void)to_display_form(text);

    // A stored form reads back as itself and survives its display form.
    std::string stored = to_stored_form(wide);
    if (to_stored_form(Core_Platform::ansi_to_wide(stored)) != stored) __builtin_trap();
    if (to_stored_form(to_display_form(stored)) != stored) __builtin_trap();
    (void)comparison_key(stored);
    return 0;
}
