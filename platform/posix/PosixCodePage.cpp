#include "platform/CodePage.h"

#include "common/Text.h"

#include <clocale>
#include <cwctype>
#include <idn2.h>
#include <locale.h>

// Case mapping through the C library's UTF-8 locale, IDNA through libidn2.
namespace tarnwell::platform {

namespace {

locale_t Utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

}  // namespace

std::string LowerCase(std::string_view utf8) {
    std::u32string chars = text::Decode(utf8);
    const locale_t locale = Utf8Locale();
    for (char32_t& c : chars) {
        if (c < 0x80)
            c = (c >= U'A' && c <= U'Z') ? c + 32 : c;
        else if (locale)
            c = static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), locale));
    }
    return text::Encode(chars);
}

std::optional<std::string> IdnToAscii(std::string_view utf8) {
    const std::string input(utf8);
    if (input.find('\0') != std::string::npos) return std::nullopt;
    char* output = nullptr;
    const int rc = idn2_to_ascii_8z(input.c_str(), &output, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    if (rc != IDN2_OK || !output) {
        idn2_free(output);
        return std::nullopt;
    }
    std::string ascii(output);
    idn2_free(output);
    return ascii;
}

}  // namespace tarnwell::platform
