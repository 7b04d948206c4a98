// Text encodings: the Windows-1250 code page that stands for the "ANSI" and
// the default 8-bit code page, UTF-8 and UTF-16 with their byte-order marks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrakel {

// Windows-1250 <-> UTF-8. Decoding is lossless for all 256 byte values: the
// five bytes the code page leaves undefined map to U+0081, U+0083, U+0088,
// U+0090 and U+0098 and back. Characters the code page cannot hold encode as "?".
std::string Win1250ToUtf8(std::string_view bytes);
std::string Utf8ToWin1250(std::string_view text);

// The code point of one Windows-1250 byte.
char32_t Win1250ToUnicode(unsigned char byte);

enum class TTextEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

// Looks at the first bytes: UTF-8 mark, then UTF-16 LE, then UTF-16 BE; else Ansi.
TTextEncoding DetectEncoding(std::string_view bytes);
// The byte-order mark of an encoding (empty for Ansi).
std::string_view ByteOrderMark(TTextEncoding encoding);

// Bytes of a file (mark included) to UTF-8 text, and UTF-8 text to the
// bytes of the given encoding with its mark.
std::string DecodeText(std::string_view bytes, TTextEncoding encoding);
std::string EncodeText(std::string_view text, TTextEncoding encoding);

// DecodeText for bytes that must come back unchanged from EncodeText: where
// DecodeText would put U+FFFD for what the encoding cannot read (an invalid
// UTF-8 sequence, an odd last byte of UTF-16, an unpaired surrogate), this
// gives nothing and sets `badOffset` to the offset of the first such byte,
// counted from the start of `bytes`, mark included. Windows-1250 always decodes.
std::optional<std::string> DecodeTextExact(std::string_view bytes, TTextEncoding encoding,
                                           size_t* badOffset = nullptr);
// The encoding's usual name: "UTF-8", "UTF-16LE", "UTF-16BE", "Windows-1250".
std::string_view EncodingName(TTextEncoding encoding);

// UTF-8 helpers. Invalid sequences decode as U+FFFD, one per bad byte.
std::u32string Utf8ToUtf32(std::string_view text);
std::string Utf32ToUtf8(std::u32string_view text);
void AppendUtf8(std::string& out, char32_t cp);
// The code point of the last character of a UTF-8 text (0 when empty).
char32_t LastCodePoint(std::string_view text);

// Makes every lone CR and lone LF a CR LF.
std::string NormalizeLineBreaks(std::string_view text);

} // namespace ostrakel
