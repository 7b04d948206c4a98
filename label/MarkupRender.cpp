#include "label/MarkupRender.h"

#include "label/ImageList.h"
#include "label/PictureContainer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace ostrakel {

namespace {

enum class TLineAlign { Left, Right, Center };
enum class TLinePass { Measure, Second };
enum class TTagAction { Consume, EndAfter, EndBefore };

// What the markup has switched on so far; carried from line to line.
struct TRenderState {
    bool InAnchor = false;
    QString Href;
    int AnchorNo = 0;
    bool AnchorHoverStyle = false;
    TColorValue AnchorOldBg = clNone;
    int AnchorStartX = 0;
    int AnchorStartTop = 0;
    bool MouseInAnchor = false;

    bool ErrorMark = false;
    bool Hidden = false;
    bool Shadow = false;
    bool Sup = false;
    bool Sub = false;
    bool ParaBg = false;
    bool Rotated = false;
    int Angle = 0;

    TColorValue BeforeFontBg = clNone;
    TColorValue BeforeHiColor = clNone;
    TColorValue BeforeHiBg = clNone;
    TColorValue BeforeParaBg = clNone;

    int ListLevel = 0;
    TLineAlign Align = TLineAlign::Left;
    int ParaIndent = 0;
    int LineOffset = 0; // for the lines that follow
    int AnchorCount = 0;
    int ImageCount = 0;
};

struct TLineValues {
    int W = 0;
    int H = 0;
    int SupExt = 0;
    int SubExt = 0;
    int Raise = 0;
    int TrailingSpace = 0;
};

// One pass over one line.
struct TPass {
    bool Second = false;
    bool Paint = false;
    TRect Line;
    int TextBottom = 0;
    int LineOffset = 0;
    int Avail = 0;
    int PenX = 0;
    int ListItems = 0;
    bool AnchorStartedHere = false;
    bool TextHit = false;
    bool ImageHit = false;
    qsizetype SourceEnd = -1; // set when the rest of the text is dropped
    // Where the rotated run of this line starts its baseline, once it has.
    bool RotationStarted = false;
    int RotationX = 0;
    int RotationY = 0;
};

struct TResolvedPicture {
    enum TKind { None, Picture, List, SysIcon } Kind = None;
    THTMLPicture* Pic = nullptr;
    int Index = 0;
    QImage Icon;
};

// Pixel values read from markup stay within a range that no screen or page
// reaches, and sums of them saturate: a line never overflows its width.
constexpr int kMaxMarkupPixels = 1 << 24;
int Pixels(int v) {
    return std::clamp(v, -kMaxMarkupPixels, kMaxMarkupPixels);
}
int Sum(int64_t a, int64_t b) {
    return static_cast<int>(
        std::clamp<int64_t>(a + b, std::numeric_limits<int>::min() / 2, std::numeric_limits<int>::max() / 2));
}

int RoundHalfEven(double v) {
    return static_cast<int>(std::lrint(v));
}

int ScaleByDpi(int n, int dpi) {
    return dpi == 96 ? n : static_cast<int>((static_cast<int64_t>(n) * dpi + 48) / 96);
}

int FloorHalf(int v) {
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

class TMarkupRenderer {
public:
    TMarkupRenderer(const TRenderParams& p) : P(p), C(*p.Canvas) {}

    TRenderResult Run();

private:
    // Measure pass: consumes the line from `pos`; second pass: walks the
    // line's source [pos, limit). Returns where the pass stopped.
    qsizetype RenderMarkupLine(TLinePass pass, qsizetype pos, qsizetype limit, const TRect& line,
                               int lineOffset, TLineValues& v, TPass& ps);
    void DrawPiece(const QString& text, int width, TPass& ps, const TLineValues& v);
    // `at` is where rotated text starts: the bottom left corner of its cell.
    void DrawShownText(const QString& text, const TRect& box, QPoint at);
    void Zigzag(int left, int right, int textBottom);
    TTagAction HandleTag(const TMarkupTag& tag, TPass& ps, TLineValues& v);
    TTagAction HandleImage(QStringView attributes, TPass& ps, TLineValues& v);
    void HandleBody(QStringView attributes, TPass& ps);
    void DrawBullet(QStringView attributes, int x, int y, const TPass& ps);
    TResolvedPicture Resolve(const QString& ref);
    QSize ResolvedSize(const TResolvedPicture& r) const;
    void DrawResolvedAt(const TResolvedPicture& r, int x, int y);

    const TRenderParams& P;
    TMarkupCanvas& C;
    TRenderResult R;
    TRenderState S;
    QString FText;
    qsizetype FEnd = 0;
    bool FMnemonics = true;
    TColorValue FBlinkColor = clNone;
    TMarkupFont FBase;
    int FHoveredImage = -1;
};

TRenderResult TMarkupRenderer::Run() {
    FMnemonics = MnemonicsInForce(P.Text);
    FText = PrepareMarkup(P.Text);
    FBlinkColor = C.TextBackground();
    C.SetTextBackground(clNone);
    FBase = C.Font();
    S.BeforeHiColor = FBase.Color;
    // Before any anchor, a closing anchor tag closes "anchor 0".
    S.AnchorHoverStyle = !P.Hover || P.HoverLink == 0;
    TMarkupFont measureFont = FBase;
    TMarkupFont paintFont = FBase;

    FEnd = FText.size();
    while (FEnd > 0 && FText[FEnd - 1].unicode() <= 32)
        --FEnd;
    TRect lineRect = P.Rect;
    qsizetype pos = 0;
    while (pos < FEnd) {
        while (pos < FEnd && FText[pos].unicode() <= 32)
            ++pos;
        if (pos >= FEnd) break;

        C.SetFont(measureFont);
        const int startHeight = C.TextHeight();
        TLineValues v;
        v.H = startHeight;
        const int lineOffset = S.LineOffset;
        // The second pass replays the line's tags from the same state.
        const TRenderState lineStart = S;
        TPass measure;
        const qsizetype sourceStart = pos;
        pos = RenderMarkupLine(TLinePass::Measure, pos, FEnd, lineRect, lineOffset, v, measure);
        const qsizetype sourceEnd = measure.SourceEnd >= 0 ? measure.SourceEnd : pos;
        measureFont = C.Font();

        v.H = Sum(v.H, P.LineSpacing);
        TRect paintRect = lineRect;
        if (S.Align == TLineAlign::Right) {
            if (paintRect.Right - v.W > paintRect.Left) paintRect.Left = paintRect.Right - v.W;
        } else if (S.Align == TLineAlign::Center) {
            const int room = paintRect.Right - paintRect.Left - v.W;
            if (room > 0) paintRect.Left += room / 2;
        }
        paintRect.Left = Sum(paintRect.Left, S.ParaIndent);
        paintRect.Bottom = Sum(Sum(paintRect.Top, v.H), int64_t{v.SubExt} + v.SupExt);

        S = lineStart;
        C.SetFont(paintFont);
        TPass second;
        RenderMarkupLine(TLinePass::Second, sourceStart, sourceEnd, paintRect, lineOffset, v, second);
        paintFont = C.Font();

        const int band = paintRect.Bottom - v.Raise;
        if (second.ImageHit || (second.TextHit && P.Y > band - C.TextHeight() && P.Y < band)) R.Hit = true;

        const int advance = Sum(v.H, int64_t{v.SubExt} + v.SupExt);
        lineRect.Top = Sum(lineRect.Top, advance);
        R.YSize = Sum(R.YSize, advance);
        if (int64_t{lineRect.Top} + startHeight > P.Rect.Bottom) break;
    }
    if (R.YSize == 0) R.YSize = C.TextHeight();
    R.HyperLinks = S.AnchorCount;
    C.SetTextBackground(FBlinkColor);
    C.SetFont(FBase);
    return R;
}

qsizetype TMarkupRenderer::RenderMarkupLine(TLinePass pass, qsizetype pos, qsizetype limit, const TRect& line,
                                            int lineOffset, TLineValues& v, TPass& ps) {
    ps.Second = pass == TLinePass::Second;
    ps.Paint = ps.Second && !P.CheckOnly;
    ps.Line = line;
    ps.TextBottom = line.Bottom - v.SubExt;
    ps.LineOffset = lineOffset;
    ps.Avail = line.Right - line.Left - lineOffset;
    ps.PenX = Sum(line.Left, ps.Second ? lineOffset : 0);
    const bool measure = !ps.Paint;
    v.W = 0;
    v.TrailingSpace = 0;
    S.Sup = S.Sub = false;

    if (ps.Paint && S.ParaBg && C.TextBackground() != clNone)
        C.FillRect({P.Rect.Left, line.Top, P.Rect.Right, line.Top + v.H}, C.TextBackground());

    bool ended = false;
    while (pos < limit && !ended) {
        // The next piece: up to and with the first space (word wrap), or up
        // to the next tag.
        qsizetype e = pos;
        while (e < limit) {
            const QChar c = FText[e];
            if (c == u'<') break;
            ++e;
            if (P.WordWrap && c == u' ') break;
        }
        if (e > pos) {
            const QString shown = DecodePieceEntities(QStringView(FText).mid(pos, e - pos));
            const int lh = C.TextHeight();
            v.H = std::max(v.H, lh);
            if (S.Sub) v.SubExt = std::max(v.SubExt, lh / 4);
            if (S.Sup) v.SupExt = std::max(v.SupExt, lh / 4);
            if (S.Hidden) {
                pos = e;
                continue;
            }
            const QString text = CanvasText(shown, FMnemonics);
            const int width = C.TextWidth(text, FMnemonics);
            if (measure) {
                if (S.InAnchor) {
                    const int x = P.X - line.Left;
                    if (x >= v.W && x <= int64_t{v.W} + width) {
                        ps.TextHit = true;
                        if (P.Y > line.Top) {
                            R.Anchor = S.Href;
                            S.MouseInAnchor = true;
                        }
                    }
                }
                v.W = Sum(v.W, width);
            } else {
                DrawPiece(text, width, ps, v);
            }
            ps.PenX = Sum(ps.PenX, width);
            const bool fits = ps.Avail > v.W || width >= ps.Avail;
            if (fits || !P.WordWrap) {
                pos = e;
                v.TrailingSpace = shown.endsWith(u' ') ? C.TextWidth(QStringLiteral(" "), false) : 0;
            } else {
                if (measure) v.W -= width;
                break;
            }
        }

        if (pos < limit && FText[pos] == u'<') {
            const qsizetype gt = limit - pos <= 2 ? -1 : FText.indexOf(u'>', pos + 1);
            if (gt < 0 || gt >= limit) {
                // A tag that never closes: the rest of the text is dropped.
                ps.SourceEnd = pos;
                pos = limit;
                break;
            }
            const QStringView tagText = QStringView(FText).mid(pos, gt - pos + 1);
            const QStringView rest = QStringView(FText).mid(pos, FEnd - pos);
            const TTagAction action = HandleTag(ClassifyTag(tagText, rest), ps, v);
            if (action == TTagAction::EndBefore) break;
            pos = gt + 1;
            if (action == TTagAction::EndAfter) ended = true;
        }
    }

    v.W -= v.TrailingSpace;
    if (v.W > R.XSize) R.XSize = Sum(v.W, 2);
    return pos;
}

void TMarkupRenderer::DrawShownText(const QString& text, const TRect& box, QPoint at) {
    if (S.Rotated)
        C.DrawRotatedText(text, at.x(), at.y(), S.Angle, FMnemonics);
    else
        C.DrawText(text, box, {true, !P.WordWrap, FMnemonics});
}

void TMarkupRenderer::DrawPiece(const QString& text, int width, TPass& ps, const TLineValues& v) {
    TRect box{ps.PenX, ps.Line.Top, ps.Line.Right, ps.TextBottom - v.Raise};
    if (S.Sub) box.Bottom += v.SubExt;
    if (S.Sup) box.Bottom -= v.SupExt;
    // Without word wrap, what starts in the last "w" of the line is not drawn
    // (its shadow neither): the ellipsis of the piece before stands for it.
    if (!P.WordWrap && ps.PenX >= ps.Line.Right - C.TextWidth(QStringLiteral("w"), false)) return;
    // The words of a rotated run go along its turned baseline: each starts
    // as far from the run's start as the text before it is long.
    QPoint at(box.Left, box.Bottom);
    if (S.Rotated) {
        if (!ps.RotationStarted) {
            ps.RotationStarted = true;
            ps.RotationX = box.Left;
            ps.RotationY = box.Bottom;
        }
        const double along = box.Left - ps.RotationX;
        const double radians = S.Angle * std::numbers::pi / 180.0;
        at = QPoint(Sum(ps.RotationX, std::lround(along * std::cos(radians))),
                    Sum(ps.RotationY, -std::lround(along * std::sin(radians))));
    }
    if (S.Shadow) {
        const TMarkupFont font = C.Font();
        TMarkupFont shadow = font;
        shadow.Color = P.ShadowColor;
        C.SetFont(shadow);
        const int o = P.ShadowOffset;
        DrawShownText(text, {box.Left + o, box.Top + o, box.Right + o, box.Bottom + o}, at + QPoint(o, o));
        C.SetFont(font);
    }
    DrawShownText(text, box, at);
    // Past the line's right edge nothing shows; the zigzag stops there too.
    if (S.ErrorMark) Zigzag(ps.PenX, std::min(Sum(ps.PenX, width), ps.Line.Right), ps.TextBottom);
}

void TMarkupRenderer::Zigzag(int left, int right, int textBottom) {
    int x = (left / 2) * 2;
    int d = x % 4 == 0 ? 2 : 0;
    int y = textBottom + d - 1;
    while (x < right) {
        d = d == 2 ? 0 : 2;
        const int ny = textBottom + d - 1;
        C.Line(x, y, x + 2, ny, clRed, 1);
        x += 2;
        y = ny;
    }
}

TTagAction TMarkupRenderer::HandleTag(const TMarkupTag& tag, TPass& ps, TLineValues& v) {
    TMarkupFont f = C.Font();
    TTagAction action = TTagAction::Consume;
    switch (tag.Kind) {
    case TTagKind::Anchor: {
        S.AnchorCount++;
        S.AnchorNo = S.AnchorCount;
        S.InAnchor = true;
        S.Href = TTagAttributes(tag.Attributes).FirstQuoted();
        S.AnchorStartX = ps.Line.Left + v.W;
        S.AnchorStartTop = ps.Line.Top;
        ps.AnchorStartedHere = true;
        S.MouseInAnchor = false;
        S.AnchorHoverStyle = !P.Hover || S.AnchorNo == P.HoverLink;
        if (S.AnchorHoverStyle) {
            f.Underline = true;
            if (ps.Paint && P.HoverColor != clNone) {
                S.AnchorOldBg = C.TextBackground();
                C.SetTextBackground(P.HoverColor);
            }
        }
        f.Color =
            (P.Hover && S.AnchorHoverStyle && P.HoverFontColor != clNone) ? P.HoverFontColor : P.URLColor;
        break;
    }
    case TTagKind::EndAnchor:
        if (S.InAnchor && S.MouseInAnchor) {
            R.MouseLink = S.AnchorNo;
            const int right = ps.Line.Left + v.W;
            R.HoverRect = ps.AnchorStartedHere ? TRect{S.AnchorStartX, S.AnchorStartTop, right, ps.TextBottom}
                                               : TRect{ps.Line.Left, ps.Line.Top, right, ps.TextBottom};
        }
        // The styling of the last anchor opened is undone, open or not: a
        // stray closing tag switches the underline off like a real one.
        if (S.AnchorHoverStyle) {
            f.Underline = false;
            if (ps.Paint && P.HoverColor != clNone) C.SetTextBackground(S.AnchorOldBg);
        }
        S.InAnchor = false;
        S.MouseInAnchor = false;
        f.Color = FBase.Color;
        break;
    case TTagKind::Bold:
        f.Bold = true;
        S.Rotated = false;
        break;
    case TTagKind::EndBold:
        f.Bold = false;
        S.Rotated = false;
        break;
    case TTagKind::EndColor:
        f.Color = FBase.Color;
        break;
    case TTagKind::Blink:
        f.Color = FBlinkColor;
        break;
    case TTagKind::Body:
        if (ps.Paint) HandleBody(tag.Attributes, ps);
        break;
    case TTagKind::LineBreak:
        action = TTagAction::EndAfter;
        break;
    case TTagKind::ErrorMark:
        if (ps.Paint) S.ErrorMark = true;
        break;
    case TTagKind::EndErrorMark:
        if (ps.Paint) S.ErrorMark = false;
        break;
    case TTagKind::Font: {
        const TTagAttributes a(tag.Attributes);
        if (auto face = a.UpperValue(QStringLiteral("FACE")); face && !face->isEmpty()) f.Face = *face;
        if (auto color = a.UpperValue(QStringLiteral(" COLOR")); color && !color->isEmpty())
            f.Color = ParseMarkupColor(*color);
        if (ps.Paint) {
            if (auto bg = a.UpperValue(QStringLiteral("BGCOLOR"))) {
                S.BeforeFontBg = C.TextBackground();
                if (!bg->isEmpty()) C.SetTextBackground(ParseMarkupColor(*bg));
            }
        }
        // A size of 0 or below is no font size; the font stays as it is.
        if (auto size = a.FontSize(); size && *size > 0) {
            f.Size = *size;
            f.PixelHeight = 0;
        }
        S.Rotated = false;
        break;
    }
    case TTagKind::EndFont:
        f.Face = FBase.Face;
        f.Size = FBase.Size;
        f.PixelHeight = FBase.PixelHeight;
        if (ps.Paint) {
            f.Color = FBase.Color;
            C.SetTextBackground(S.BeforeFontBg);
        }
        S.Rotated = false;
        break;
    case TTagKind::Highlight:
        if (ps.Paint) {
            S.BeforeHiColor = f.Color;
            S.BeforeHiBg = C.TextBackground();
            C.SetTextBackground(clHighlight);
            f.Color = clHighlightText;
        }
        break;
    case TTagKind::EndHighlight:
        if (ps.Paint) {
            f.Color = S.BeforeHiColor;
            C.SetTextBackground(S.BeforeHiBg);
        }
        break;
    case TTagKind::Rule:
        if (ps.Paint) {
            const auto value = TTagAttributes(tag.Attributes).Value(QStringLiteral("COLOR"));
            const TColorValue color = value && !value->isEmpty() ? ParseMarkupColor(*value) : clBlack;
            C.Line(ps.Line.Left, ps.TextBottom + 1, ps.Line.Right, ps.TextBottom + 1, color, C.PenWidth());
        }
        action = TTagAction::EndAfter;
        break;
    case TTagKind::Italic:
        f.Italic = true;
        S.Rotated = false;
        break;
    case TTagKind::EndItalic:
        f.Italic = false;
        S.Rotated = false;
        break;
    case TTagKind::Indent: {
        const TLeadingInt x = MarkupLeadingInt(TTagAttributes(tag.Attributes).LetterValue(u'x'));
        if (!x.Valid) break;
        const int indent = Pixels(x.Value);
        const int target = Sum(P.Rect.Left, indent);
        // The pen, not the line's width so far, tells where painting stands:
        // text already wider than the indent is never painted over.
        if (ps.Paint && ps.PenX < target) ps.PenX = target;
        if (v.W < indent) {
            v.W = indent;
            if (!ps.Paint) ps.PenX = target;
        }
        break;
    }
    case TTagKind::Image:
        action = HandleImage(tag.Attributes, ps, v);
        break;
    case TTagKind::ListItem: {
        if (ps.ListItems > 0) {
            action = TTagAction::EndBefore;
            break;
        }
        ps.ListItems++;
        v.W = Sum(v.W, int64_t{12} * S.ListLevel);
        const int x = Sum(ps.PenX, int64_t{12} * (S.ListLevel - 1));
        if (ps.Paint && !S.Hidden) DrawBullet(tag.Attributes, x, ps.Line.Top, ps);
        ps.PenX = Sum(x, 12);
        break;
    }
    case TTagKind::EndListItem:
        action = TTagAction::EndAfter;
        break;
    case TTagKind::Offset: {
        const int x = Pixels(MarkupLeadingInt(TTagAttributes(tag.Attributes).LetterValue(u'x')).Value);
        S.LineOffset = x;
        v.W = x;
        ps.PenX = Sum(P.Rect.Left, x);
        break;
    }
    case TTagKind::EndOffset:
        S.LineOffset = 0;
        break;
    case TTagKind::Paragraph: {
        const TTagAttributes a(tag.Attributes);
        if (auto align = a.UpperValue(QStringLiteral("ALIGN"))) {
            if (align->contains(QStringLiteral("RIGHT"))) S.Align = TLineAlign::Right;
            if (align->contains(QStringLiteral("LEFT"))) S.Align = TLineAlign::Left;
            if (align->contains(QStringLiteral("CENTER"))) S.Align = TLineAlign::Center;
        }
        if (auto indent = a.UpperValue(QStringLiteral("INDENT")))
            S.ParaIndent = Pixels(MarkupLeadingInt(*indent).Value);
        if (ps.Paint) {
            if (auto bg = a.UpperValue(QStringLiteral("BGCOLOR"))) {
                S.ParaBg = true;
                S.BeforeParaBg = C.TextBackground();
                const TColorValue color = ParseMarkupColor(*bg);
                C.SetTextBackground(color);
                if (auto to = a.UpperValue(QStringLiteral("BGCOLORTO"))) {
                    FillGradient(C, color, ParseMarkupColor(*to), true,
                                 {P.Rect.Left, ps.Line.Top, P.Rect.Right, ps.TextBottom + 2}, 64);
                    C.SetTextBackground(clNone);
                } else {
                    C.FillRect({P.Rect.Left, ps.Line.Top, P.Rect.Right, ps.TextBottom}, color);
                }
            }
        }
        break;
    }
    case TTagKind::EndParagraph:
        if (ps.Paint) {
            C.SetTextBackground(S.BeforeParaBg);
            S.ParaBg = false;
        }
        action = TTagAction::EndAfter;
        break;
    case TTagKind::Rotation:
        S.Angle = MarkupLeadingInt(TTagAttributes(tag.Attributes).LetterValue(u'a')).Value;
        S.Rotated = true;
        ps.RotationStarted = false; // a new run, a baseline of its own
        break;
    case TTagKind::EndRotation:
        S.Rotated = false;
        break;
    case TTagKind::Strike:
        f.StrikeOut = true;
        S.Rotated = false;
        break;
    case TTagKind::EndStrike:
        f.StrikeOut = false;
        S.Rotated = false;
        break;
    case TTagKind::Shadow:
        S.Shadow = true;
        break;
    case TTagKind::EndShadow:
        S.Shadow = false;
        break;
    case TTagKind::Subscript:
        S.Sub = true;
        break;
    case TTagKind::Superscript:
        S.Sup = true;
        break;
    case TTagKind::EndScript:
        S.Sub = S.Sup = false;
        break;
    case TTagKind::Underline:
        f.Underline = true;
        S.Rotated = false;
        break;
    case TTagKind::EndUnderline:
        f.Underline = false;
        S.Rotated = false;
        break;
    case TTagKind::UnorderedList:
        S.ListLevel++;
        action = TTagAction::EndAfter;
        break;
    case TTagKind::EndList:
        if (S.ListLevel > 0)
            S.ListLevel--;
        else
            f.Underline = false;
        break;
    case TTagKind::Hidden:
        S.Hidden = true;
        break;
    case TTagKind::EndHidden:
        S.Hidden = false;
        break;
    case TTagKind::Unknown:
        break;
    }
    C.SetFont(f);
    return action;
}

void TMarkupRenderer::DrawBullet(QStringView attributes, int x, int y, const TPass& ps) {
    const TTagAttributes a(attributes);
    const auto type = a.UpperValue(QStringLiteral("TYPE"));
    const auto colorValue = a.UpperValue(QStringLiteral("COLOR"));
    const bool hasColor = colorValue && !colorValue->isEmpty();
    const TColorValue color = hasColor ? ParseMarkupColor(*colorValue) : C.Font().Color;
    const TRect square{x, y + 2, x + 8, y + 10};
    if (type && !type->isEmpty()) {
        if (*type == QLatin1String("SQUARE"))
            C.FillRect(square, color);
        else if (*type == QLatin1String("CIRCLE"))
            C.FillEllipse(square, color);
        return;
    }
    const TMarkupFont saved = C.Font();
    TMarkupFont bullet = saved;
    bullet.Face = QStringLiteral("Symbol");
    if (hasColor) bullet.Color = color;
    C.SetFont(bullet);
    const QString mark = S.ListLevel % 2 != 0 ? QString(QChar(0x2022)) : QStringLiteral("o");
    C.DrawBullet(mark[0], {x, y, ps.Line.Right, ps.TextBottom});
    C.SetFont(saved);
}

TResolvedPicture TMarkupRenderer::Resolve(const QString& ref) {
    TResolvedPicture r;
    if (ref.isEmpty()) return r;
    const QString upper = ref.toUpper();
    if (upper.startsWith(QStringLiteral("IDX:"))) {
        const int index = MarkupLeadingInt(QStringView(ref).mid(4)).Value;
        if (P.Images && index >= 0 && index < P.Images->Count()) {
            r.Kind = TResolvedPicture::List;
            r.Index = index;
        }
    } else if (upper.startsWith(QStringLiteral("SSYS:")) || upper.startsWith(QStringLiteral("LSYS:"))) {
        r.Icon = C.SystemIcon(ref.mid(5), upper.startsWith(u'L'));
        if (!r.Icon.isNull()) r.Kind = TResolvedPicture::SysIcon;
    } else if (!ref.contains(u':')) {
        if (P.Container) r.Pic = P.Container->FindPicture(ref);
    } else if (ref.contains(QStringLiteral("://"))) {
        if (P.PicCache) {
            r.Pic = P.PicCache->FindPicture(ref);
            if (!r.Pic) {
                r.Pic = P.PicCache->AddPicture();
                r.Pic->SetAsynch(false);
                try {
                    r.Pic->LoadFromURL(ref);
                } catch (const std::exception&) {
                    // A picture that fails to load is simply absent.
                }
            }
        }
    }
    if (r.Pic) {
        if (!r.Pic->Empty() && !r.Pic->Image().isNull())
            r.Kind = TResolvedPicture::Picture;
        else
            r.Pic = nullptr;
    }
    return r;
}

QSize TMarkupRenderer::ResolvedSize(const TResolvedPicture& r) const {
    switch (r.Kind) {
    case TResolvedPicture::Picture:
        return {r.Pic->Width(), r.Pic->Height()};
    case TResolvedPicture::List:
        return {P.Images->Width(), P.Images->Height()};
    case TResolvedPicture::SysIcon:
        return r.Icon.size();
    case TResolvedPicture::None:
        break;
    }
    return {0, 0};
}

void TMarkupRenderer::DrawResolvedAt(const TResolvedPicture& r, int x, int y) {
    switch (r.Kind) {
    case TResolvedPicture::Picture: {
        const QSize s = ResolvedSize(r);
        r.Pic->Draw(C, {x, y, x + s.width(), y + s.height()});
        break;
    }
    case TResolvedPicture::List: {
        const QImage& image = P.Images->Image(r.Index);
        if (P.Print) {
            const int w = static_cast<int>(std::lround(P.Images->Width() * P.ResFactor));
            const int h = static_cast<int>(std::lround(P.Images->Height() * P.ResFactor));
            C.StretchImage(image, {x, y, x + w, y + h});
        } else {
            C.DrawImage(image, x, y);
        }
        break;
    }
    case TResolvedPicture::SysIcon:
        C.DrawImage(r.Icon, x, y);
        break;
    case TResolvedPicture::None:
        break;
    }
}

TTagAction TMarkupRenderer::HandleImage(QStringView attributes, TPass& ps, TLineValues& v) {
    const int number = ++S.ImageCount;
    const TTagAttributes a(attributes);
    QString ref = a.Value(QStringLiteral("SRC")).value_or(QString());
    // File names are case-sensitive here: the ALT reference keeps its case.
    if (number == FHoveredImage)
        if (auto alt = a.Value(QStringLiteral("ALT"))) ref = *alt;
    const int width =
        Pixels(MarkupLeadingInt(a.UpperValue(QStringLiteral("WIDTH")).value_or(QString())).Value);
    const int height =
        Pixels(MarkupLeadingInt(a.UpperValue(QStringLiteral("HEIGHT")).value_or(QString())).Value);
    const bool sized = width > 0 || height > 0;
    enum { Bottom, Top, Middle } align = Bottom;
    if (a.Has(QStringLiteral("ALIGN"))) {
        if (a.Upper().contains(QStringLiteral("\"TOP")))
            align = Top;
        else if (a.Upper().contains(QStringLiteral("\"MIDDLE")))
            align = Middle;
    }
    const bool wrap = a.Has(QStringLiteral("WRAP"));

    const TResolvedPicture pic = Resolve(ref);
    int dw = 0, dh = 0;
    QSize cell(0, 0);
    if (pic.Kind == TResolvedPicture::Picture) {
        const int pw = pic.Pic->Width(), ph = pic.Pic->Height();
        if (width > 0 && height > 0) {
            dw = width;
            dh = height;
        } else if (width > 0) {
            dw = width;
            dh = pw ? RoundHalfEven(static_cast<double>(ph) * width / pw) : 0;
        } else if (height > 0) {
            dh = height;
            dw = ph ? RoundHalfEven(static_cast<double>(pw) * height / ph) : 0;
        } else {
            dw = pw;
            dh = ph;
        }
        cell = sized ? QSize(dw, dh) : QSize(pic.Pic->GetMaxWidth(), pic.Pic->GetMaxHeight());
    } else {
        cell = ResolvedSize(pic);
    }
    const int n = ScaleByDpi(cell.width(), C.DpiX());
    const int m = ScaleByDpi(cell.height(), C.DpiY());

    // A picture that would fit on a line of its own goes to the next line.
    if (P.WordWrap && ps.Avail < int64_t{v.W} + n && n <= ps.Avail) {
        --S.ImageCount;
        return TTagAction::EndBefore;
    }
    if (!ps.Paint && S.InAnchor) {
        const int x = P.X - ps.Line.Left;
        if (x > v.W && x < int64_t{v.W} + n && P.Y > ps.Line.Top && P.Y < int64_t{ps.Line.Top} + m) {
            ps.ImageHit = true;
            R.Anchor = S.Href;
            FHoveredImage = number;
        }
    }
    if (ps.Paint) {
        const int top = ps.Line.Top;
        if (pic.Kind == TResolvedPicture::Picture) {
            if (sized)
                C.StretchImage(pic.Pic->Image(), {ps.PenX, top, ps.PenX + dw, top + dh});
            else
                DrawResolvedAt(pic, ps.PenX + pic.Pic->FrameXPos(), top + pic.Pic->FrameYPos());
        } else {
            DrawResolvedAt(pic, ps.PenX, top);
        }
    }
    v.W = Sum(v.W, n);
    ps.PenX = Sum(ps.PenX, n);
    v.H = std::max(v.H, m);
    const int lh = C.TextHeight();
    if (align == Top)
        v.Raise = v.H - lh;
    else if (align == Middle)
        v.Raise = FloorHalf(v.H - lh);
    if (wrap) {
        v.H = lh;
        v.Raise = 0;
    }
    return TTagAction::Consume;
}

void TMarkupRenderer::HandleBody(QStringView attributes, TPass& ps) {
    const TTagAttributes a(attributes);
    const TRect& rect = P.Rect;
    // Picture references keep their letter case: file names are case-sensitive here.
    if (auto ref = a.Value(QStringLiteral("BACKGROUND"))) {
        const TResolvedPicture pic = Resolve(*ref);
        if (pic.Kind == TResolvedPicture::Picture)
            C.TileImage(pic.Pic->Image(), rect);
        else
            DrawResolvedAt(pic, ps.PenX, ps.Line.Top);
    }
    if (auto ref = a.Value(QStringLiteral("BGTOPLEFT"))) {
        const TResolvedPicture pic = Resolve(*ref);
        if (pic.Kind == TResolvedPicture::Picture)
            DrawResolvedAt(pic, rect.Left, rect.Top);
        else
            DrawResolvedAt(pic, ps.PenX, ps.Line.Top);
    }
    if (auto ref = a.Value(QStringLiteral("BGTOPRIGHT"))) {
        const TResolvedPicture pic = Resolve(*ref);
        const int w = ResolvedSize(pic).width();
        if (pic.Kind == TResolvedPicture::Picture)
            DrawResolvedAt(pic, rect.Right - w, rect.Top);
        else
            DrawResolvedAt(pic, ps.Line.Right - w, ps.Line.Top);
    }
    // As everywhere in the markup, an unreadable colour value reads as black.
    if (auto bg = a.UpperValue(QStringLiteral("BGCOLOR"))) {
        const TColorValue color = ParseMarkupColor(*bg);
        if (auto to = a.UpperValue(QStringLiteral("BGCOLORTO"))) {
            const auto dir = a.UpperValue(QStringLiteral("DIR"));
            FillGradient(C, color, ParseMarkupColor(*to), !dir || *dir == QLatin1String("H"), rect, 64);
            C.SetTextBackground(clNone);
        } else {
            C.FillRect({rect.Left - 2, rect.Top, rect.Right, rect.Bottom}, color);
            C.SetTextBackground(color);
        }
    }
}

} // namespace

TRenderResult RenderMarkup(const TRenderParams& params) {
    if (!params.Canvas) return {};
    return TMarkupRenderer(params).Run();
}

void FillGradient(TMarkupCanvas& canvas, TColorValue from, TColorValue to, bool horizontal, const TRect& r,
                  int bands, TColorValue border) {
    if (bands <= 0) bands = 1;
    const QRgb a = canvas.ResolveColor(from);
    const QRgb b = canvas.ResolveColor(to);
    const double s = (horizontal ? r.Width() : r.Height()) / static_cast<double>(bands);
    auto channel = [&](int x, int y, int i) {
        return x + RoundHalfEven(static_cast<double>(i) * (y - x) / bands);
    };
    for (int i = 0; i < bands; ++i) {
        const int red = channel(qRed(a), qRed(b), i);
        const int green = channel(qGreen(a), qGreen(b), i);
        const int blue = channel(qBlue(a), qBlue(b), i);
        const TColorValue color = red | (green << 8) | (blue << 16);
        const int step = static_cast<int>(std::trunc(s));
        if (horizontal) {
            const int x = r.Left + RoundHalfEven(i * s);
            canvas.FillRect({x, r.Top, std::min(r.Right, x + step + 1), r.Bottom}, color);
        } else {
            const int y = r.Top + RoundHalfEven(i * s);
            canvas.FillRect({r.Left, y, r.Right, std::min(r.Bottom, y + step + 1)}, color);
        }
    }
    if (border != clNone) {
        canvas.FillRect({r.Left, r.Top, r.Right, r.Top + 1}, border);
        canvas.FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom}, border);
        canvas.FillRect({r.Left, r.Top, r.Left + 1, r.Bottom}, border);
        canvas.FillRect({r.Right - 1, r.Top, r.Right, r.Bottom}, border);
    }
}

} // namespace ostrakel
