#include "label/Markup.h"

#include <array>
#include <limits>
#include <vector>

namespace ostrakel {

namespace {

struct TNamedColor {
    const char* Name;
    TColorValue Value;
};

constexpr std::array<TNamedColor, 16> kRgbColors{{
    {"clblack", 0x000000},
    {"clmaroon", 0x000080},
    {"clgreen", 0x008000},
    {"clolive", 0x008080},
    {"clnavy", 0x800000},
    {"clpurple", 0x800080},
    {"clteal", 0x808000},
    {"clgray", 0x808080},
    {"clsilver", 0xC0C0C0},
    {"clred", 0x0000FF},
    {"cllime", 0x00FF00},
    {"clyellow", 0x00FFFF},
    {"clblue", 0xFF0000},
    {"clfuchsia", 0xFF00FF},
    {"claqua", 0xFFFF00},
    {"clwhite", 0xFFFFFF},
}};

constexpr std::array<const char*, 24> kSystemColors{"clbackground",
                                                    "clactivecaption",
                                                    "clinactivecaption",
                                                    "clmenu",
                                                    "clwindow",
                                                    "clwindowframe",
                                                    "clmenutext",
                                                    "clwindowtext",
                                                    "clcaptiontext",
                                                    "clactiveborder",
                                                    "clinactiveborder",
                                                    "clappworkspace",
                                                    "clhighlight",
                                                    "clhighlighttext",
                                                    "clbtnface",
                                                    "clbtnshadow",
                                                    "clgraytext",
                                                    "clbtntext",
                                                    "clinactivecaptiontext",
                                                    "clbtnhighlight",
                                                    "cl3ddkshadow",
                                                    "cl3dlight",
                                                    "clinfotext",
                                                    "clinfobk"};

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

QChar AsciiUpper(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') ? QChar(char16_t(u - 32)) : c;
}

bool SameNoCase(QChar a, QChar b) {
    return AsciiUpper(a) == AsciiUpper(b);
}

// Does `text` hold `pattern` at `at`, ASCII letter case ignored?
bool MatchesAt(QStringView text, qsizetype at, QStringView pattern) {
    if (at < 0 || at + pattern.size() > text.size()) return false;
    for (qsizetype k = 0; k < pattern.size(); ++k)
        if (!SameNoCase(text[at + k], pattern[k])) return false;
    return true;
}

qsizetype IndexOfNoCase(QStringView text, QStringView pattern, qsizetype from = 0) {
    if (pattern.isEmpty()) return from <= text.size() ? from : -1;
    for (qsizetype i = from; i + pattern.size() <= text.size(); ++i)
        if (MatchesAt(text, i, pattern)) return i;
    return -1;
}

// Removes "<open>" ... "<close>" sections; one without its end stays.
void RemoveSections(QString& text, const QString& open, const QString& close) {
    qsizetype from = 0;
    for (;;) {
        const qsizetype start = text.indexOf(open, from);
        if (start < 0) return;
        const qsizetype end = text.indexOf(close, start + open.size());
        if (end < 0) return;
        text.remove(start, end + close.size() - start);
        from = start;
    }
}

} // namespace

TColorValue LookupColorName(const QString& name) {
    const QString lower = name.toLower();
    for (const auto& c : kRgbColors)
        if (lower == QLatin1String(c.Name) && c.Value != 0) return c.Value;
    for (size_t i = 0; i < kSystemColors.size(); ++i)
        if (lower == QLatin1String(kSystemColors[i])) return SystemColor(static_cast<int>(i) + 1);
    return 0;
}

TColorValue ParseMarkupColor(const QString& text) {
    if (!text.startsWith(u'#')) return LookupColorName(text);
    auto component = [&](qsizetype at) {
        int value = 0;
        for (qsizetype k = at; k < at + 2; ++k) {
            if (k >= text.size()) break;
            const int d = HexDigit(text[k]);
            value = value * 16 + (d < 0 ? 0 : d);
        }
        return value;
    };
    const int red = component(1), green = component(3), blue = component(5);
    return red + green * 256 + blue * 65536;
}

TLeadingInt MarkupLeadingInt(QStringView text) {
    TLeadingInt result;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int base = 10;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    int64_t value = 0;
    qsizetype digits = 0;
    bool overflow = false;
    for (; i < n; ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0 || d >= base) break;
        const int64_t next = value * base + d;
        if (next > std::numeric_limits<int32_t>::max()) {
            overflow = true;
            break;
        }
        value = next;
        ++digits;
    }
    result.Value = static_cast<int>(value);
    result.Valid = !overflow && digits > 0 && i == n;
    if (result.Valid && negative) result.Value = -result.Value;
    return result;
}

QString MarkupToPlainText(const QString& markup) {
    QString s = markup;
    s.replace(QStringLiteral("<BR>"), QStringLiteral("\r\n"), Qt::CaseInsensitive);
    s.replace(QStringLiteral("<HR>"), QStringLiteral("\r\n"), Qt::CaseInsensitive);
    RemoveSections(s, QStringLiteral("<z>"), QStringLiteral("</z>"));
    RemoveSections(s, QStringLiteral("<Z>"), QStringLiteral("</Z>"));
    return MarkupVisibleText(s);
}

QString MarkupVisibleText(const QString& markup) {
    QString out;
    out.reserve(markup.size());
    qsizetype i = 0;
    while (i < markup.size()) {
        const qsizetype lt = markup.indexOf(u'<', i);
        if (lt < 0) break;
        const qsizetype gt = markup.indexOf(u'>', lt + 1);
        if (gt < 0) break;
        out += QStringView(markup).mid(i, lt - i);
        i = gt + 1;
    }
    out += QStringView(markup).mid(i);
    return out;
}

bool ReplaceFirstNoCase(const QString& pattern, const QString& replacement, QString& text) {
    const qsizetype at = IndexOfNoCase(text, pattern);
    if (at < 0 || pattern.isEmpty()) return false;
    text.replace(at, pattern.size(), replacement);
    return true;
}

QString ReplaceEntities(const QString& text) {
    if (!text.contains(u'&')) return text;
    struct TEntity {
        const char16_t* Name; // after the ampersand
        QChar Shown;
    };
    static const TEntity kEntities[] = {
        {u"quot;", u'"'},           {u"sect;", QChar(0x00A7)}, {u"permil;", QChar(0x2030)},
        {u"reg;", QChar(0x00AE)},   {u"copy;", QChar(0x00A9)}, {u"para;", QChar(0x00B6)},
        {u"trade;", QChar(0x2122)}, {u"euro;", QChar(0x20AC)},
    };
    // Decoding "&amp;" leaves an ampersand that may start another entity, so
    // an ampersand is resolved in place until nothing more matches; the result
    // is the same as replacing first occurrences pass after pass.
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        if (text[i] != u'&') {
            out += text[i++];
            continue;
        }
        qsizetype k = i + 1;
        bool literal = false;
        bool decoded = false;
        while (!decoded) {
            if (MatchesAt(text, k, u"amp;")) {
                k += 4;
                literal = true;
                continue;
            }
            for (const TEntity& e : kEntities) {
                const QStringView name(e.Name);
                if (MatchesAt(text, k, name)) {
                    out += e.Shown;
                    i = k + name.size();
                    decoded = true;
                    break;
                }
            }
            if (decoded) break;
            out += literal ? kLiteralAmpersand : QChar(u'&');
            i = k;
            break;
        }
    }
    return out;
}

QString StripFieldTag(const QString& text) {
    QString s = text;
    const qsizetype at = s.indexOf(QStringLiteral("<#"));
    if (at < 0) return s;
    const qsizetype gt = s.indexOf(u'>', at + 2);
    if (gt >= 0) s.remove(gt, 1);
    s.remove(at, 1);
    return s;
}

QString LineBreaksToTags(const QString& text) {
    if (!text.contains(u'\r') && !text.contains(u'\n')) return text;
    QString out;
    out.reserve(text.size() + 16);
    for (QChar c : text) {
        if (c == u'\r')
            out += QStringLiteral("<BR>");
        else if (c != u'\n')
            out += c;
    }
    return out;
}

QString PrepareMarkup(const QString& text) {
    QString s = text;
    // Our marker for literal ampersands must not come from outside.
    s.replace(kLiteralAmpersand, QChar(QChar::ReplacementCharacter));
    return LineBreaksToTags(StripFieldTag(ReplaceEntities(s)));
}

QString DecodePieceEntities(QStringView piece) {
    QString out;
    out.reserve(piece.size());
    const qsizetype n = piece.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = piece[i];
        if (IsAmpersand(c)) {
            const QStringView rest = piece.mid(i + 1);
            if (rest.startsWith(u"nbsp;")) {
                out += u' ';
                i += 5;
                continue;
            }
            if (rest.startsWith(u"lt;")) {
                out += u'<';
                i += 3;
                continue;
            }
            if (rest.startsWith(u"gt;")) {
                out += u'>';
                i += 3;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString CanvasText(const QString& shown, bool mnemonics) {
    if (!shown.contains(kLiteralAmpersand)) return shown;
    QString out = shown;
    out.replace(kLiteralAmpersand, mnemonics ? QStringLiteral("&&") : QStringLiteral("&"));
    return out;
}

QString PlainAmpersands(QString text) {
    text.replace(kLiteralAmpersand, QChar(u'&'));
    return text;
}

// ---- tags ----

TMarkupTag ClassifyTag(QStringView tag, QStringView rest) {
    TMarkupTag t;
    auto at = [&](qsizetype i) { return i < rest.size() ? AsciiUpper(rest[i]).unicode() : char16_t(0); };
    auto attributesFrom = [&](qsizetype k) {
        const qsizetype len = tag.size() - 1 - k;
        return len > 0 ? tag.mid(k, len) : QStringView();
    };

    if (rest.size() >= 4 && rest[1] == u'/') {
        const char16_t second = at(3);
        switch (at(2)) {
        case 'A':
            t.Kind = TTagKind::EndAnchor;
            break;
        case 'B':
            t.Kind = rest[3] == u'>' ? TTagKind::EndBold : TTagKind::EndColor;
            break;
        case 'E':
            t.Kind = TTagKind::EndErrorMark;
            break;
        case 'F':
            t.Kind = TTagKind::EndFont;
            break;
        case 'H':
            t.Kind = TTagKind::EndHighlight;
            break;
        case 'I':
            t.Kind = TTagKind::EndItalic;
            break;
        case 'L':
            t.Kind = TTagKind::EndListItem;
            break;
        case 'O':
            t.Kind = TTagKind::EndOffset;
            break;
        case 'P':
            t.Kind = TTagKind::EndParagraph;
            break;
        case 'R':
            t.Kind = TTagKind::EndRotation;
            break;
        case 'S':
            t.Kind = second == 'U'   ? TTagKind::EndScript
                     : second == 'H' ? TTagKind::EndShadow
                                     : TTagKind::EndStrike;
            break;
        case 'U':
            t.Kind = rest[3] == u'>' ? TTagKind::EndUnderline : TTagKind::EndList;
            break;
        case 'Z':
            t.Kind = TTagKind::EndHidden;
            break;
        default:
            break;
        }
        return t;
    }

    if (MatchesAt(rest, 0, u"<SUB>")) {
        t.Kind = TTagKind::Subscript;
        return t;
    }
    if (MatchesAt(rest, 0, u"<SUP>")) {
        t.Kind = TTagKind::Superscript;
        return t;
    }
    const char16_t second = at(2);
    switch (at(1)) {
    case 'A':
        t = {TTagKind::Anchor, attributesFrom(2)};
        break;
    case 'B':
        if (rest.size() > 2 && rest[2] == u'>')
            t.Kind = TTagKind::Bold;
        else if (second == 'L')
            t.Kind = TTagKind::Blink;
        else if (second == 'O')
            t = {TTagKind::Body, attributesFrom(5)};
        else if (second == 'R')
            t.Kind = TTagKind::LineBreak;
        break;
    case 'E':
        t.Kind = TTagKind::ErrorMark;
        break;
    case 'F':
        t = {TTagKind::Font, attributesFrom(5)};
        break;
    case 'H':
        if (second == 'I')
            t.Kind = TTagKind::Highlight;
        else if (second == 'R')
            t = {TTagKind::Rule, attributesFrom(3)};
        break;
    case 'I':
        if (rest.size() > 2 && rest[2] == u'>')
            t.Kind = TTagKind::Italic;
        else if (second == 'N')
            t = {TTagKind::Indent, attributesFrom(2)};
        else if (second == 'M')
            t = {TTagKind::Image, attributesFrom(2)};
        break;
    case 'L':
        t = {TTagKind::ListItem, attributesFrom(2)};
        break;
    case 'O':
        if (second == 'F') t = {TTagKind::Offset, attributesFrom(2)};
        break;
    case 'P':
        t = {TTagKind::Paragraph, attributesFrom(2)};
        break;
    case 'R':
        t = {TTagKind::Rotation, attributesFrom(2)};
        break;
    case 'S':
        if (rest.size() > 2 && rest[2] == u'>')
            t.Kind = TTagKind::Strike;
        else if (second == 'H')
            t.Kind = TTagKind::Shadow;
        break;
    case 'U':
        t.Kind = (rest.size() > 2 && rest[2] == u'>') ? TTagKind::Underline : TTagKind::UnorderedList;
        break;
    case 'Z':
        t.Kind = TTagKind::Hidden;
        break;
    default:
        break;
    }
    return t;
}

namespace {
// Character by character, so that every position in the copy is the same
// position in the text as written ("ß" would otherwise grow to "SS").
QString UpperSameLength(const QString& text) {
    QString upper = text;
    for (QChar& c : upper)
        c = c.toUpper();
    return upper;
}
} // namespace

TTagAttributes::TTagAttributes(QStringView text) : FText(text.toString()), FUpper(UpperSameLength(FText)) {}

std::optional<QString> TTagAttributes::ValueAt(const QString& source, qsizetype from) const {
    const qsizetype q1 = source.indexOf(u'"', from);
    if (q1 < 0) return QString();
    const qsizetype q2 = source.indexOf(u'"', q1 + 1);
    if (q2 < 0) return QString();
    return PlainAmpersands(source.mid(q1 + 1, q2 - q1 - 1));
}

std::optional<QString> TTagAttributes::Value(const QString& name) const {
    const qsizetype at = FUpper.indexOf(name);
    if (at < 0) return std::nullopt;
    return ValueAt(FText, at);
}

std::optional<QString> TTagAttributes::UpperValue(const QString& name) const {
    const qsizetype at = FUpper.indexOf(name);
    if (at < 0) return std::nullopt;
    return ValueAt(FUpper, at);
}

QString TTagAttributes::LetterValue(QChar letter) const {
    const qsizetype at = FUpper.indexOf(AsciiUpper(letter));
    return *ValueAt(FText, at >= 0 ? at + 2 : 1);
}

QString TTagAttributes::FirstQuoted() const {
    return *ValueAt(FText, 0);
}

std::optional<int> TTagAttributes::FontSize() const {
    const qsizetype at = FUpper.indexOf(QStringLiteral("SIZE"));
    if (at < 0) return std::nullopt;
    const qsizetype eq = FUpper.indexOf(u'=', at + 4);
    if (eq < 0) return std::nullopt;
    QStringView rest = QStringView(FUpper).mid(eq + 1);
    const qsizetype quote = rest.indexOf(u'"');
    if (quote >= 0) rest = rest.mid(quote + 1);
    const int n = MarkupLeadingInt(rest).Value;
    switch (n) {
    case 1:
        return 8;
    case 2:
        return 10;
    case 3:
        return 12;
    case 4:
        return 14;
    case 5:
        return 16;
    default:
        return n;
    }
}

// ---- highlight and mark ----

qsizetype MarkupIndexOfPlainChar(const QString& markup, qsizetype n) {
    if (n <= 0) return 0;
    const qsizetype total = MarkupVisibleText(markup).size();
    if (n >= total) return markup.size();
    qsizetype count = 0;
    qsizetype i = 0;
    bool tagsEnded = false;
    while (i < markup.size()) {
        if (!tagsEnded && markup[i] == u'<') {
            const qsizetype gt = markup.indexOf(u'>', i + 1);
            if (gt >= 0) {
                i = gt + 1;
                continue;
            }
            tagsEnded = true;
        }
        ++i;
        if (++count == n) return i;
    }
    return markup.size();
}

QString WrapMatches(const QString& markup, const QString& what, const QString& tag, bool caseSensitive) {
    if (what.isEmpty()) return markup;
    // Capitals letter by letter: a capital that is longer than its letter
    // ("ß", "SS") would shift every position after it.
    auto fold = [caseSensitive](QString text) {
        if (!caseSensitive)
            for (QChar& c : text)
                c = c.toUpper();
        return text;
    };
    const QString haystack = fold(MarkupVisibleText(markup));
    const QString needle = fold(what);
    std::vector<qsizetype> starts; // visible positions of the matches
    for (qsizetype from = 0;;) {
        const qsizetype p = haystack.indexOf(needle, from);
        if (p < 0) break;
        starts.push_back(p);
        from = p + needle.size();
    }
    if (starts.empty()) return markup;

    // One walk over the markup puts every tag after the visible character it
    // follows: tag k (0-based) opens match k / 2 when even, closes it when
    // odd. A match's close comes before the open of one that touches it.
    const QString open = u'<' + tag + u'>';
    const QString close = QStringLiteral("</") + tag + u'>';
    const size_t tags = 2 * starts.size();
    auto position = [&](size_t k) { return starts[k / 2] + (k % 2 ? needle.size() : 0); };
    size_t next = 0;
    QString out;
    out.reserve(markup.size() + static_cast<qsizetype>(tags) * (close.size()));
    auto putTagsAt = [&](qsizetype visible) {
        for (; next < tags && position(next) == visible; ++next)
            out += next % 2 ? close : open;
    };
    const qsizetype total = haystack.size();
    putTagsAt(0);
    qsizetype visible = 0;
    bool tagsEnded = false; // a "<" without ">" and all after it are text
    for (qsizetype i = 0; i < markup.size();) {
        if (!tagsEnded && markup[i] == u'<') {
            const qsizetype gt = markup.indexOf(u'>', i + 1);
            if (gt >= 0) {
                out += QStringView(markup).mid(i, gt - i + 1);
                i = gt + 1;
                continue;
            }
            tagsEnded = true;
        }
        out += markup[i++];
        // After the last visible character means the end of the markup.
        if (++visible < total) putTagsAt(visible);
    }
    putTagsAt(total);
    return out;
}

QString UnwrapTag(const QString& markup, const QString& tag) {
    QString s = markup;
    s.remove(u'<' + tag + u'>', Qt::CaseInsensitive);
    s.remove(QStringLiteral("</") + tag + u'>', Qt::CaseInsensitive);
    return s;
}

} // namespace ostrakel
