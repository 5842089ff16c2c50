#include "xpcom/ns_string.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "xpcom/ns_memory.h"

struct ns_string_access {
    template <class C>
    static const C*& data(ns_string_base<C>& s) {
        return s.m_data;
    }
    template <class C>
    static const C* data(const ns_string_base<C>& s) {
        return s.m_data;
    }
    template <class C>
    static std::uint32_t& length(ns_string_base<C>& s) {
        return s.m_length;
    }
    template <class C>
    static std::uint32_t length(const ns_string_base<C>& s) {
        return s.m_length;
    }
    template <class C>
    static std::uint32_t& flags(ns_string_base<C>& s) {
        return s.m_flags;
    }
    template <class C>
    static std::uint32_t flags(const ns_string_base<C>& s) {
        return s.m_flags;
    }
};

namespace {

using A = ns_string_access;

// Internal storage flags (distinct from the init flags).
constexpr std::uint32_t OWNED = 1u << 0;
constexpr std::uint32_t TERMINATED = 1u << 4;

constexpr char16_t kEmpty16[1] = {0};
constexpr char kEmpty8[1] = {0};

const char16_t* empty_text(char16_t) { return kEmpty16; }
const char* empty_text(char) { return kEmpty8; }

template <class C>
std::size_t text_length(const C* data) {
    std::size_t n = 0;
    while (data[n] != C(0)) ++n;
    return n;
}

template <class C>
void set_empty(ns_string_base<C>& s) {
    A::data(s) = empty_text(C());
    A::length(s) = 0;
    A::flags(s) = TERMINATED;
}

template <class C>
void release(ns_string_base<C>& s) {
    if ((A::flags(s) & OWNED) != 0) NS_Free(const_cast<C*>(A::data(s)));
    A::data(s) = nullptr;
    A::length(s) = 0;
    A::flags(s) = 0;
}

// Resolves a (data, length) argument pair; false when the text is too long.
template <class C>
bool resolve_length(const C* data, std::uint32_t length, std::uint32_t& out) {
    if (data == nullptr) {
        out = 0;
        return true;
    }
    if (length != NS_STRING_WHOLE) {
        out = length;
        return true;
    }
    const std::size_t n = text_length(data);
    if (n >= NS_STRING_WHOLE) return false;
    out = static_cast<std::uint32_t>(n);
    return true;
}

// A terminated copy of `length` code units from NS_Alloc, or null.
template <class C>
C* copy_text(const C* data, std::uint32_t length) {
    C* buffer = static_cast<C*>(NS_Alloc((static_cast<std::size_t>(length) + 1) * sizeof(C)));
    if (buffer == nullptr) return nullptr;
    if (length > 0) std::memcpy(buffer, data, static_cast<std::size_t>(length) * sizeof(C));
    buffer[length] = C(0);
    return buffer;
}

template <class C>
nsresult init2(ns_string_base<C>& s, const C* data, std::uint32_t length, std::uint32_t flags) {
    set_empty(s);
    std::uint32_t n = 0;
    if (!resolve_length(data, length, n)) {
        if ((flags & NS_STRING_CONTAINER_INIT_ADOPT) != 0) NS_Free(const_cast<C*>(data));
        return NS_ERROR_OUT_OF_MEMORY;
    }
    if (data == nullptr) return NS_OK;
    const std::uint32_t terminated =
        (flags & NS_STRING_CONTAINER_INIT_SUBSTRING) != 0 ? 0 : TERMINATED;
    if ((flags & NS_STRING_CONTAINER_INIT_DEPEND) != 0) {
        A::data(s) = data;
        A::length(s) = n;
        A::flags(s) = terminated;
        return NS_OK;
    }
    if ((flags & NS_STRING_CONTAINER_INIT_ADOPT) != 0) {
        A::data(s) = data;
        A::length(s) = n;
        A::flags(s) = OWNED | terminated;
        return NS_OK;
    }
    C* copy = copy_text(data, n);
    if (copy == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    A::data(s) = copy;
    A::length(s) = n;
    A::flags(s) = OWNED | TERMINATED;
    return NS_OK;
}

template <class C>
std::uint32_t get_data(const ns_string_base<C>& s, const C** data, bool* terminated) {
    const C* text = A::data(s);
    if (text == nullptr) {
        if (data != nullptr) *data = empty_text(C());
        if (terminated != nullptr) *terminated = true;
        return 0;
    }
    if (data != nullptr) *data = text;
    if (terminated != nullptr) *terminated = (A::flags(s) & TERMINATED) != 0;
    return A::length(s);
}

template <class C>
nsresult set_data(ns_string_base<C>& s, const C* data, std::uint32_t length) {
    std::uint32_t n = 0;
    if (!resolve_length(data, length, n)) return NS_ERROR_OUT_OF_MEMORY;
    // Copy first: `data` may point into the current buffer.
    C* copy = copy_text(data, n);
    if (copy == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    release(s);
    A::data(s) = copy;
    A::length(s) = n;
    A::flags(s) = OWNED | TERMINATED;
    return NS_OK;
}

constexpr char32_t REPLACEMENT = 0xFFFD;

// Bytes of the UTF-8 form of `n` code units: pairs four, lone surrogates
// three (U+FFFD).
std::size_t utf8_length(const char16_t* p, std::uint32_t n) {
    std::size_t bytes = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const char16_t cu = p[i];
        if (cu < 0x80) {
            bytes += 1;
        } else if (cu < 0x800) {
            bytes += 2;
        } else if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 &&
                   p[i + 1] <= 0xDFFF) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;
        }
    }
    return bytes;
}

char* put_utf8(char* o, char32_t cp) {
    if (cp < 0x80) {
        *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *o++ = static_cast<char>(0xC0 | (cp >> 6));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = static_cast<char>(0xE0 | (cp >> 12));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *o++ = static_cast<char>(0xF0 | (cp >> 18));
        *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return o;
}

// Writes the UTF-8 form (utf8_length bytes) at `out`.
void utf16_to_utf8_into(const char16_t* p, std::uint32_t n, char* out) {
    for (std::uint32_t i = 0; i < n; ++i) {
        const char16_t cu = p[i];
        if (cu < 0x80) {
            *out++ = static_cast<char>(cu);
        } else if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 &&
                   p[i + 1] <= 0xDFFF) {
            out = put_utf8(out, 0x10000 + ((char32_t(cu) - 0xD800) << 10) + (p[i + 1] - 0xDC00));
            ++i;
        } else if (cu >= 0xD800 && cu <= 0xDFFF) {
            out = put_utf8(out, REPLACEMENT);
        } else {
            out = put_utf8(out, cu);
        }
    }
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Lenient UTF-8 decoding: every maximal invalid part becomes one U+FFFD.
std::u16string utf8_to_utf16(const char* text, std::uint32_t n) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::u16string out;
    out.reserve(n);
    std::uint32_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int need = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out.push_back(static_cast<char16_t>(REPLACEMENT));
            ++i;
            continue;
        }
        std::uint32_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < need; ++k, ++j) {
            const unsigned char c = j < n ? p[j] : 0;
            const unsigned char min = k == 0 ? lo : 0x80;
            const unsigned char max = k == 0 ? hi : 0xBF;
            if (j >= n || c < min || c > max) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (ok) {
            append_utf16(out, cp);
        } else {
            out.push_back(static_cast<char16_t>(REPLACEMENT));
        }
        i = j;
    }
    return out;
}

std::u16string ascii_to_utf16(const char* text, std::uint32_t n) {
    std::u16string out(n, char16_t(REPLACEMENT));
    for (std::uint32_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) out[i] = b;
    }
    return out;
}

}  // namespace

nsresult NS_StringContainerInit(nsStringContainer& container) {
    set_empty(container);
    return NS_OK;
}

nsresult NS_CStringContainerInit(nsCStringContainer& container) {
    set_empty(container);
    return NS_OK;
}

nsresult NS_StringContainerInit2(nsStringContainer& container, const char16_t* data,
                                 std::uint32_t length, std::uint32_t flags) {
    return init2<char16_t>(container, data, length, flags);
}

nsresult NS_CStringContainerInit2(nsCStringContainer& container, const char* data,
                                  std::uint32_t length, std::uint32_t flags) {
    return init2<char>(container, data, length, flags);
}

void NS_StringContainerFinish(nsStringContainer& container) { release<char16_t>(container); }

void NS_CStringContainerFinish(nsCStringContainer& container) { release<char>(container); }

std::uint32_t NS_StringGetData(const nsAString& str, const char16_t** data, bool* terminated) {
    return get_data<char16_t>(str, data, terminated);
}

std::uint32_t NS_CStringGetData(const nsACString& str, const char** data, bool* terminated) {
    return get_data<char>(str, data, terminated);
}

nsresult NS_StringSetData(nsAString& str, const char16_t* data, std::uint32_t length) {
    return set_data<char16_t>(str, data, length);
}

std::uint32_t NS_StringGetMutableData(nsAString& str, std::uint32_t length, char16_t** data) {
    if (data == nullptr) return 0;
    *data = nullptr;
    const char16_t* old = nullptr;
    const std::uint32_t old_length = NS_StringGetData(str, &old);
    if (length == NS_STRING_WHOLE) length = old_length;
    if (length == 0) {
        release(str);
        set_empty(str);
        return 0;
    }
    char16_t* buffer;
    if ((A::flags(str) & OWNED) != 0) {
        // The string's own buffer grows or shrinks in place where it can.
        buffer = static_cast<char16_t*>(
            NS_Realloc(const_cast<char16_t*>(old), (std::size_t{length} + 1) * sizeof(char16_t)));
        if (buffer == nullptr) return 0;
    } else {
        buffer = static_cast<char16_t*>(NS_Alloc((std::size_t{length} + 1) * sizeof(char16_t)));
        if (buffer == nullptr) return 0;
        std::memcpy(buffer, old, std::size_t{std::min(length, old_length)} * sizeof(char16_t));
        release(str);
    }
    buffer[length] = 0;
    A::data(str) = buffer;
    A::length(str) = length;
    A::flags(str) = OWNED | TERMINATED;
    *data = buffer;
    return length;
}

nsresult NS_CStringSetData(nsACString& str, const char* data, std::uint32_t length) {
    return set_data<char>(str, data, length);
}

nsresult NS_UTF16ToCString(const nsAString& src, nsCStringEncoding encoding, nsACString& dest) {
    const char16_t* text = nullptr;
    const std::uint32_t n = NS_StringGetData(src, &text);
    switch (encoding) {
        case NS_CSTRING_ENCODING_ASCII:
        case NS_CSTRING_ENCODING_UTF8:
        case NS_CSTRING_ENCODING_NATIVE_FILESYSTEM:
            break;
        default:
            return NS_ERROR_INVALID_ARG;
    }
    // The text is converted straight into the buffer the string takes over
    // (a document of tens of megabytes is not copied once more).
    const bool ascii = encoding == NS_CSTRING_ENCODING_ASCII;
    const std::size_t size = ascii ? n : utf8_length(text, n);
    if (size >= NS_STRING_WHOLE) return NS_ERROR_OUT_OF_MEMORY;
    char* buffer = static_cast<char*>(NS_Alloc(size + 1));
    if (buffer == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    if (ascii) {
        for (std::uint32_t i = 0; i < n; ++i)
            buffer[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    } else {
        utf16_to_utf8_into(text, n, buffer);
    }
    buffer[size] = '\0';
    // `src` and `dest` are different strings, so the old text can go now.
    release(dest);
    A::data(dest) = buffer;
    A::length(dest) = static_cast<std::uint32_t>(size);
    A::flags(dest) = OWNED | TERMINATED;
    return NS_OK;
}

nsresult NS_CStringToUTF16(const nsACString& src, nsCStringEncoding encoding, nsAString& dest) {
    const char* text = nullptr;
    const std::uint32_t n = NS_CStringGetData(src, &text);
    try {
        std::u16string out;
        switch (encoding) {
            case NS_CSTRING_ENCODING_ASCII:
                out = ascii_to_utf16(text, n);
                break;
            case NS_CSTRING_ENCODING_UTF8:
            case NS_CSTRING_ENCODING_NATIVE_FILESYSTEM:
                out = utf8_to_utf16(text, n);
                break;
            default:
                return NS_ERROR_INVALID_ARG;
        }
        if (out.size() >= NS_STRING_WHOLE) return NS_ERROR_OUT_OF_MEMORY;
        return NS_StringSetData(dest, out.data(), static_cast<std::uint32_t>(out.size()));
    } catch (const std::bad_alloc&) {
        return NS_ERROR_OUT_OF_MEMORY;
    } catch (const std::length_error&) {
        return NS_ERROR_OUT_OF_MEMORY;
    }
}
