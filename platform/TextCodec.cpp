#include "platform/TextCodec.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace ostrakel {

namespace {

// The upper half of Windows-1250; the undefined bytes stand for themselves.
constexpr std::array<char16_t, 128> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9};

const std::unordered_map<char32_t, unsigned char>& ReverseTable() {
    static const auto table = [] {
        std::unordered_map<char32_t, unsigned char> t;
        for (size_t i = 0; i < kHigh.size(); ++i) t.emplace(kHigh[i], static_cast<unsigned char>(0x80 + i));
        return t;
    }();
    return table;
}

constexpr std::string_view kBomUtf8 = "\xEF\xBB\xBF";
constexpr std::string_view kBomUtf16LE = "\xFF\xFE";
constexpr std::string_view kBomUtf16BE = "\xFE\xFF";

// Decodes UTF-16 into `out`. An unpaired surrogate and an odd last byte
// become U+FFFD, or, when `strict`, end the decoding. Gives the offset of the
// first of them in `bytes`, npos when there is none.
size_t Utf16ToUtf8(std::string_view bytes, bool bigEndian, bool strict, std::string& out) {
    out.reserve(bytes.size());
    const size_t n = bytes.size() / 2;
    auto unit = [&](size_t i) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return bigEndian ? static_cast<char16_t>(a << 8 | b) : static_cast<char16_t>(b << 8 | a);
    };
    size_t firstBad = std::string_view::npos;
    for (size_t i = 0; i < n; ++i) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const char32_t lo = unit(i + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) { // unpaired surrogate
            if (firstBad == std::string_view::npos) firstBad = 2 * i;
            if (strict) return firstBad;
            u = 0xFFFD;
        }
        AppendUtf8(out, u);
    }
    if (bytes.size() % 2) { // dangling odd byte
        if (firstBad == std::string_view::npos) firstBad = bytes.size() - 1;
        if (!strict) AppendUtf8(out, 0xFFFD);
    }
    return firstBad;
}

std::string Utf8ToUtf16(std::string_view text, bool bigEndian) {
    std::string out;
    out.reserve(text.size() * 2);
    auto put = [&](char16_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        if (bigEndian) {
            out += hi;
            out += lo;
        } else {
            out += lo;
            out += hi;
        }
    };
    for (char32_t cp : Utf8ToUtf32(text)) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(static_cast<char16_t>(0xD800 + (cp >> 10)));
            put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            put(static_cast<char16_t>(cp));
        }
    }
    return out;
}

} // namespace

char32_t Win1250ToUnicode(unsigned char byte) { return byte < 0x80 ? byte : kHigh[byte - 0x80]; }

std::string Win1250ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char c : bytes) AppendUtf8(out, Win1250ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string Utf8ToWin1250(std::string_view text) {
    // Statement texts are mostly ASCII, which is the same in both.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    const auto& rev = ReverseTable();
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) { // fast path for ASCII
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < text.size() && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80 && j - i < 4) ++j;
        const std::u32string cps = Utf8ToUtf32(text.substr(i, j - i));
        for (char32_t cp : cps) {
            auto it = rev.find(cp);
            out += it != rev.end() ? static_cast<char>(it->second) : '?';
        }
        i = j;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

// The length of the well-formed UTF-8 sequence at text[i], with its code
// point in `cp`; 0 when the byte there starts none (a stray continuation
// byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF).
size_t Utf8Sequence(std::string_view text, size_t i, char32_t& cp) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t len = 0;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    static const char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

// The offset of the first byte that starts no well-formed sequence; npos when all do.
size_t FirstInvalidUtf8(std::string_view text) {
    char32_t cp = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t len = Utf8Sequence(text, i, cp);
        if (len == 0) return i;
        i += len;
    }
    return std::string_view::npos;
}

} // namespace

std::u32string Utf8ToUtf32(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        const size_t len = Utf8Sequence(text, i, cp);
        if (len == 0) {
            out += U'\uFFFD';
            ++i;
        } else {
            out += cp;
            i += len;
        }
    }
    return out;
}

std::string Utf32ToUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) AppendUtf8(out, cp);
    return out;
}

char32_t LastCodePoint(std::string_view text) {
    if (text.empty()) return 0;
    size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    const std::u32string cps = Utf8ToUtf32(text.substr(start));
    return cps.empty() ? 0 : cps.back();
}

TTextEncoding DetectEncoding(std::string_view bytes) {
    if (bytes.starts_with(kBomUtf8)) return TTextEncoding::Utf8;
    if (bytes.starts_with(kBomUtf16LE)) return TTextEncoding::Utf16LE;
    if (bytes.starts_with(kBomUtf16BE)) return TTextEncoding::Utf16BE;
    return TTextEncoding::Ansi;
}

std::string_view ByteOrderMark(TTextEncoding encoding) {
    switch (encoding) {
    case TTextEncoding::Utf8: return kBomUtf8;
    case TTextEncoding::Utf16LE: return kBomUtf16LE;
    case TTextEncoding::Utf16BE: return kBomUtf16BE;
    case TTextEncoding::Ansi: break;
    }
    return {};
}

std::string DecodeText(std::string_view bytes, TTextEncoding encoding) {
    const std::string_view mark = ByteOrderMark(encoding);
    if (bytes.starts_with(mark)) bytes.remove_prefix(mark.size());
    std::string out;
    switch (encoding) {
    case TTextEncoding::Utf8: return Utf32ToUtf8(Utf8ToUtf32(bytes));
    case TTextEncoding::Utf16LE: Utf16ToUtf8(bytes, false, false, out); return out;
    case TTextEncoding::Utf16BE: Utf16ToUtf8(bytes, true, false, out); return out;
    case TTextEncoding::Ansi: break;
    }
    return Win1250ToUtf8(bytes);
}

std::optional<std::string> DecodeTextExact(std::string_view bytes, TTextEncoding encoding, size_t* badOffset) {
    const std::string_view mark = ByteOrderMark(encoding);
    const size_t skipped = bytes.starts_with(mark) ? mark.size() : 0;
    bytes.remove_prefix(skipped);
    std::string out;
    size_t bad = std::string_view::npos;
    switch (encoding) {
    case TTextEncoding::Utf8:
        bad = FirstInvalidUtf8(bytes);
        if (bad == std::string_view::npos) out = bytes; // well-formed UTF-8 is its own text
        break;
    case TTextEncoding::Utf16LE: bad = Utf16ToUtf8(bytes, false, true, out); break;
    case TTextEncoding::Utf16BE: bad = Utf16ToUtf8(bytes, true, true, out); break;
    case TTextEncoding::Ansi: out = Win1250ToUtf8(bytes); break;
    }
    if (bad == std::string_view::npos) return out;
    if (badOffset) *badOffset = skipped + bad;
    return std::nullopt;
}

std::string_view EncodingName(TTextEncoding encoding) {
    switch (encoding) {
    case TTextEncoding::Utf8: return "UTF-8";
    case TTextEncoding::Utf16LE: return "UTF-16LE";
    case TTextEncoding::Utf16BE: return "UTF-16BE";
    case TTextEncoding::Ansi: break;
    }
    return "Windows-1250";
}

std::string EncodeText(std::string_view text, TTextEncoding encoding) {
    std::string out(ByteOrderMark(encoding));
    switch (encoding) {
    case TTextEncoding::Utf8: out += Utf32ToUtf8(Utf8ToUtf32(text)); break;
    case TTextEncoding::Utf16LE: out += Utf8ToUtf16(text, false); break;
    case TTextEncoding::Utf16BE: out += Utf8ToUtf16(text, true); break;
    case TTextEncoding::Ansi: out += Utf8ToWin1250(text); break;
    }
    return out;
}

std::string NormalizeLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace ostrakel
