// Runtime surface: the string containers and their functions.
//
// nsAString holds 16-bit text (UTF-16), nsACString 8-bit text (bytes; UTF-8
// where the text is text). Components receive them by reference and reach
// their content only through the NS_* functions below; the runtime owns the
// layout. A host (or a component that needs a local string) makes a
// container, nsStringContainer / nsCStringContainer, initialises it with
// NS_*ContainerInit or NS_*ContainerInit2 and finishes it with
// NS_*ContainerFinish exactly once; nsString / nsCString do both for the
// caller.
//
// Storage: a container either owns its buffer (allocated with NS_Alloc), or
// depends on the caller's buffer (INIT_DEPEND: the caller keeps it alive and
// unchanged while the container uses it), or adopts a buffer the caller got
// from NS_Alloc (INIT_ADOPT). The text the runtime stores is always followed
// by a terminator; a dependent substring (INIT_SUBSTRING) may not be.
//
// Lengths are counts of code units (16-bit or 8-bit). A length of
// UINT32_MAX means "up to the terminator". Texts of UINT32_MAX or more code
// units are refused with NS_ERROR_OUT_OF_MEMORY.
//
// Thread rule: a container may be used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "xpcom/export.h"
#include "xpcom/ns_result.h"

struct ns_string_access;

// Internal to the runtime: the layout shared by both string kinds.
template <class CharT>
class ns_string_base {
public:
    using char_type = CharT;
    ns_string_base(const ns_string_base&) = delete;
    ns_string_base& operator=(const ns_string_base&) = delete;

protected:
    ns_string_base() = default;
    ~ns_string_base() = default;

private:
    friend struct ns_string_access;
    const CharT* m_data = nullptr;
    std::uint32_t m_length = 0;
    std::uint32_t m_flags = 0;
};

class nsAString : public ns_string_base<char16_t> {
protected:
    nsAString() = default;
    ~nsAString() = default;
};

class nsACString : public ns_string_base<char> {
protected:
    nsACString() = default;
    ~nsACString() = default;
};

class nsStringContainer : public nsAString {
public:
    nsStringContainer() = default;
    ~nsStringContainer() = default;
};

class nsCStringContainer : public nsACString {
public:
    nsCStringContainer() = default;
    ~nsCStringContainer() = default;
};

// Flags of NS_*ContainerInit2.
inline constexpr std::uint32_t NS_STRING_CONTAINER_INIT_DEPEND = 1u << 1;
inline constexpr std::uint32_t NS_STRING_CONTAINER_INIT_ADOPT = 1u << 2;
inline constexpr std::uint32_t NS_STRING_CONTAINER_INIT_SUBSTRING = 1u << 3;
inline constexpr std::uint32_t NS_CSTRING_CONTAINER_INIT_DEPEND = NS_STRING_CONTAINER_INIT_DEPEND;
inline constexpr std::uint32_t NS_CSTRING_CONTAINER_INIT_ADOPT = NS_STRING_CONTAINER_INIT_ADOPT;
inline constexpr std::uint32_t NS_CSTRING_CONTAINER_INIT_SUBSTRING =
    NS_STRING_CONTAINER_INIT_SUBSTRING;

// Encodings between 16-bit and 8-bit text.
enum nsCStringEncoding : std::uint32_t {
    // 7-bit ASCII. Converting to it, a code unit above 0x7F becomes '?';
    // converting from it, a byte above 0x7F becomes U+FFFD.
    NS_CSTRING_ENCODING_ASCII = 0,
    // UTF-8. An unpaired surrogate becomes U+FFFD; an invalid byte sequence
    // read as UTF-8 becomes one U+FFFD per maximal invalid part.
    NS_CSTRING_ENCODING_UTF8 = 1,
    // The file system's encoding: UTF-8 on this platform.
    NS_CSTRING_ENCODING_NATIVE_FILESYSTEM = 2,
};

inline constexpr std::uint32_t NS_STRING_WHOLE = UINT32_MAX;

// Initialises an empty container.
NS_RUNTIME_API nsresult NS_StringContainerInit(nsStringContainer& container);
NS_RUNTIME_API nsresult NS_CStringContainerInit(nsCStringContainer& container);

// Initialises a container with `length` code units of `data` (UINT32_MAX:
// up to the terminator; null data: empty). flags 0 copies the text;
// INIT_DEPEND uses `data` in place (with INIT_SUBSTRING when `data` is not
// terminated after `length`); INIT_ADOPT takes over a terminated buffer from
// NS_Alloc. On failure the container is initialised empty and an adopted
// buffer is freed.
NS_RUNTIME_API nsresult NS_StringContainerInit2(nsStringContainer& container, const char16_t* data,
                                                std::uint32_t length = NS_STRING_WHOLE,
                                                std::uint32_t flags = 0);
NS_RUNTIME_API nsresult NS_CStringContainerInit2(nsCStringContainer& container, const char* data,
                                                 std::uint32_t length = NS_STRING_WHOLE,
                                                 std::uint32_t flags = 0);

// Releases what the container owns; it must be initialised again before
// further use.
NS_RUNTIME_API void NS_StringContainerFinish(nsStringContainer& container);
NS_RUNTIME_API void NS_CStringContainerFinish(nsCStringContainer& container);

// Returns the length and stores the text's address in *data (never null:
// an empty string gives a terminated empty text). *terminated (when asked)
// tells whether a terminator follows the text.
NS_RUNTIME_API std::uint32_t NS_StringGetData(const nsAString& str, const char16_t** data,
                                              bool* terminated = nullptr);
NS_RUNTIME_API std::uint32_t NS_CStringGetData(const nsACString& str, const char** data,
                                               bool* terminated = nullptr);

// Replaces the content with a copy of `length` code units of `data`
// (UINT32_MAX: up to the terminator; null data: empty). `data` may point
// into the string itself. On failure the content is unchanged.
NS_RUNTIME_API nsresult NS_StringSetData(nsAString& str, const char16_t* data,
                                         std::uint32_t length = NS_STRING_WHOLE);
NS_RUNTIME_API nsresult NS_CStringSetData(nsACString& str, const char* data,
                                          std::uint32_t length = NS_STRING_WHOLE);

// Makes the string own a buffer of `length` code units (UINT32_MAX: its
// present length) followed by a terminator, keeping the text that fits, and
// stores the buffer's address in *data for the caller to write into. Returns
// the new length; 0 with *data null when memory runs out (the content is
// then unchanged) or for length 0.
NS_RUNTIME_API std::uint32_t NS_StringGetMutableData(nsAString& str, std::uint32_t length,
                                                     char16_t** data);

// Converts between the two kinds (encodings above), replacing `dest`'s
// content. On failure `dest` is unchanged. `src` and `dest` are different
// strings by construction.
NS_RUNTIME_API nsresult NS_UTF16ToCString(const nsAString& src, nsCStringEncoding encoding,
                                          nsACString& dest);
NS_RUNTIME_API nsresult NS_CStringToUTF16(const nsACString& src, nsCStringEncoding encoding,
                                          nsAString& dest);

// A container that initialises itself on construction and finishes itself
// on destruction. A failed initialisation (only for lack of memory) leaves
// it empty.
class nsString : public nsStringContainer {
public:
    nsString() { NS_StringContainerInit(*this); }
    explicit nsString(std::u16string_view text) {
        if (text.size() >= NS_STRING_WHOLE ||
            NS_FAILED(NS_StringContainerInit2(*this, text.data(),
                                              static_cast<std::uint32_t>(text.size())))) {
            NS_StringContainerInit(*this);
        }
    }
    ~nsString() { NS_StringContainerFinish(*this); }

    std::u16string_view view() const {
        const char16_t* data = nullptr;
        const std::uint32_t n = NS_StringGetData(*this, &data);
        return std::u16string_view(data, n);
    }
};

class nsCString : public nsCStringContainer {
public:
    nsCString() { NS_CStringContainerInit(*this); }
    explicit nsCString(std::string_view text) {
        if (text.size() >= NS_STRING_WHOLE ||
            NS_FAILED(NS_CStringContainerInit2(*this, text.data(),
                                               static_cast<std::uint32_t>(text.size())))) {
            NS_CStringContainerInit(*this);
        }
    }
    ~nsCString() { NS_CStringContainerFinish(*this); }

    std::string_view view() const {
        const char* data = nullptr;
        const std::uint32_t n = NS_CStringGetData(*this, &data);
        return std::string_view(data, n);
    }
};
