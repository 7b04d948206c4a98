// The label's markup dialect: colour values and names, number reading, text
// preparation (entities, the field placeholder, line breaks), tag recognition.
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace ostrakel {

// 0x00BBGGRR for RGB, 0xFF0000nn for system colour nn, clNone for no colour.
using TColorValue = int32_t;

inline constexpr TColorValue clNone = 0x1FFFFFFF;
inline constexpr TColorValue clBlack = 0x000000;
inline constexpr TColorValue clRed = 0x0000FF;
inline constexpr TColorValue clBlue = 0xFF0000;
inline constexpr TColorValue clGray = 0x808080;
inline constexpr TColorValue clWhite = 0xFFFFFF;

inline constexpr TColorValue SystemColor(int number) {
    return static_cast<TColorValue>(0xFF000000u | static_cast<uint32_t>(number & 0xFF));
}
inline constexpr bool IsSystemColor(TColorValue c) {
    return (static_cast<uint32_t>(c) & 0xFF000000u) == 0xFF000000u;
}

inline constexpr TColorValue clWindowText = SystemColor(8);
inline constexpr TColorValue clHighlight = SystemColor(13);
inline constexpr TColorValue clHighlightText = SystemColor(14);
inline constexpr TColorValue clBtnFace = SystemColor(15);
inline constexpr TColorValue clBtnShadow = SystemColor(16);
inline constexpr TColorValue clBtnHighlight = SystemColor(20);

// A colour name such as "clRed" or "clBtnFace"; unknown names are black.
TColorValue LookupColorName(const QString& name);
// "#RRGGBB" (missing digits read as 0) or a colour name.
TColorValue ParseMarkupColor(const QString& text);

struct TLeadingInt {
    int Value = 0;
    bool Valid = false; // the whole text was one number
};
// Leading blanks, optional sign, decimal digits or hexadecimal after "$", "x"
// or "0x". An invalid text yields the digits read so far, without the sign.
TLeadingInt MarkupLeadingInt(QStringView text);

// The text of the hints: line breaks and rules become CR LF, hidden sections
// and then all tags are removed; entities stay as written.
QString MarkupToPlainText(const QString& markup);

// Replaces the first occurrence of pattern, ASCII letter case ignored.
bool ReplaceFirstNoCase(const QString& pattern, const QString& replacement, QString& text);

// An ampersand that came from "&amp;": it is always drawn as one ampersand,
// never taken for a mnemonic marker. Only prepared text holds it.
inline constexpr QChar kLiteralAmpersand = QChar(0xFDD0);
inline bool IsAmpersand(QChar c) {
    return c == u'&' || c == kLiteralAmpersand;
}

// Without " & " anywhere in the text as set, an ampersand marks the next
// character as a mnemonic (not drawn itself; "&&" draws one).
inline bool MnemonicsInForce(const QString& markup) {
    return !markup.contains(QStringLiteral(" & "));
}

// Preparation steps, run once per layout in this order.
QString ReplaceEntities(const QString& text);
QString StripFieldTag(const QString& text);
QString LineBreaksToTags(const QString& text);
QString PrepareMarkup(const QString& text);

// A text piece as shown: "&nbsp;", "&lt;" and "&gt;" decoded.
QString DecodePieceEntities(QStringView piece);
// Text handed to the canvas: literal ampersands doubled when mnemonics are in
// force so that they survive the mnemonic rule.
QString CanvasText(const QString& shown, bool mnemonics);
// Attribute values: literal ampersands back to plain ones.
QString PlainAmpersands(QString text);

// ---- tags ----

enum class TTagKind {
    Unknown,
    Anchor,
    Bold,
    Blink,
    Body,
    LineBreak,
    ErrorMark,
    Font,
    Highlight,
    Rule,
    Italic,
    Indent,
    Image,
    ListItem,
    Offset,
    Paragraph,
    Rotation,
    Strike,
    Shadow,
    Subscript,
    Superscript,
    Underline,
    UnorderedList,
    Hidden,
    // closing forms
    EndAnchor,
    EndBold,
    EndColor, // a closing tag starting with B other than "</b>"
    EndErrorMark,
    EndFont,
    EndHighlight,
    EndItalic,
    EndListItem,
    EndOffset,
    EndParagraph,
    EndRotation,
    EndScript, // "</SUB>", "</SUP>"
    EndShadow,
    EndStrike,
    EndUnderline,
    EndList, // a closing U tag other than "</u>"
    EndHidden,
};

struct TMarkupTag {
    TTagKind Kind = TTagKind::Unknown;
    QStringView Attributes; // the attribute text; empty where the tag has none
};

// Classifies the tag `tag` ("<" through ">"); `rest` is the whole remaining
// text from the "<" (it decides closing forms and "<SUB>"/"<SUP>").
TMarkupTag ClassifyTag(QStringView tag, QStringView rest);

// Attribute text of one tag, searched by name in an upper-case copy.
class TTagAttributes {
public:
    explicit TTagAttributes(QStringView text);
    bool Has(const QString& name) const { return FUpper.contains(name); }
    // Between the first two double quotes after the name; empty without both.
    std::optional<QString> Value(const QString& name) const;      // as written
    std::optional<QString> UpperValue(const QString& name) const; // upper-cased
    // The quoted value after the letter (and the character after it) for the
    // indent, offset and rotation tags; from the second character without it.
    QString LetterValue(QChar letter) const;
    // The first double-quoted text of the attributes (the anchor's href).
    QString FirstQuoted() const;
    // The font size: after the first "=" behind SIZE, up to the first quote removed.
    std::optional<int> FontSize() const;
    const QString& Upper() const { return FUpper; }
    const QString& Text() const { return FText; }

private:
    std::optional<QString> ValueAt(const QString& source, qsizetype from) const;
    QString FText;
    QString FUpper;
};

// Highlight and mark: wrap every occurrence of `what` in the visible text in
// "<tag>" ... "</tag>"; remove those tags again.
QString WrapMatches(const QString& markup, const QString& what, const QString& tag, bool caseSensitive);
QString UnwrapTag(const QString& markup, const QString& tag);
// The markup index just after the n-th visible character (n = 0: the start;
// the last visible character: the end of the markup).
qsizetype MarkupIndexOfPlainChar(const QString& markup, qsizetype n);
// The markup with every tag removed (a "<" without ">" ends the removal).
QString MarkupVisibleText(const QString& markup);

} // namespace ostrakel
