#include "platform/CodePage.h"

#include "common/Text.h"

#include <array>
#include <clocale>
#include <cwctype>
#include <iconv.h>
#include <idn2.h>
#include <locale.h>
#include <unordered_map>

// The single-byte code page of this system's 8-bit texts is Windows-1251,
// the Cyrillic code page that the window's fonts name with character set
// 204. The table comes from the C library's own converter.
namespace tarnwell::platform {

namespace {

struct Cp1251 {
    std::array<char32_t, 256> toUnicode{};
    std::unordered_map<char32_t, std::uint8_t> fromUnicode;

    Cp1251() {
        for (unsigned b = 0; b < 128; ++b) toUnicode[b] = b;
        iconv_t cd = iconv_open("UTF-32LE", "CP1251");
        for (unsigned b = 128; b < 256; ++b) {
            toUnicode[b] = 0xFFFD;
            if (cd == reinterpret_cast<iconv_t>(-1)) continue;
            char in = static_cast<char>(b);
            unsigned char out[4] = {};
            char* inp = &in;
            char* outp = reinterpret_cast<char*>(out);
            std::size_t inLeft = 1, outLeft = 4;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1) && outLeft == 0)
                toUnicode[b] = static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24);
        }
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
        for (unsigned b = 0; b < 256; ++b)
            if (toUnicode[b] != 0xFFFD) fromUnicode.emplace(toUnicode[b], static_cast<std::uint8_t>(b));
    }
};

const Cp1251& Table() {
    static const Cp1251 table;
    return table;
}

locale_t Utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

}  // namespace

std::optional<std::uint8_t> AnsiByte(char32_t ch) {
    if (ch < 0x80) return static_cast<std::uint8_t>(ch);
    const auto& map = Table().fromUnicode;
    const auto it = map.find(ch);
    if (it == map.end()) return std::nullopt;
    return it->second;
}

std::string FromAnsi(std::string_view bytes) {
    std::u32string chars;
    chars.reserve(bytes.size());
    for (char b : bytes) chars.push_back(Table().toUnicode[static_cast<unsigned char>(b)]);
    return text::Encode(chars);
}

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
