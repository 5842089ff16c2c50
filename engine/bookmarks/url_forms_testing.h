// Test support (tests only): the two address forms without the shortcut for
// plain addresses, so that the tests can hold the shortcut against them.
// Both are defined with the shortcut in bookmarks/url_forms.cc.
#pragma once

#include <string>
#include <string_view>

namespace Core_ZorvaneMerge {

// to_stored_form (bookmarks/url_forms.h) without the shortcut.
std::string to_stored_form_in_full(std::u16string_view text);
// to_display_form (bookmarks/url_forms.h) without the shortcut.
std::u16string to_display_form_in_full(std::string_view stored);

}  // namespace Core_ZorvaneMerge
