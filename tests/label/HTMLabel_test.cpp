// The label control on the fixed-metrics canvas: defaults, auto-sizing,
// frames, anchors under the mouse, clicks and links, hints, updates.
#include "label/HTMLabel.h"
#include "tests/label/FakeCanvas.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QObject>
#include <QUrl>

#include <gtest/gtest.h>

using namespace ostrakel;
using namespace ostrakel::test;

// Stands in for the desktop's link handlers.
class TLinkCatcher : public QObject {
    Q_OBJECT
public:
    std::vector<std::string>* Log = nullptr;
public slots:
    void Open(const QUrl& url) { Log->push_back("open:" + url.toString().toStdString()); }
};

namespace {

class TTestLabel : public THTMLabel {
public:
    using THTMLabel::THTMLabel;
    mutable std::vector<TCanvasCall> Log;
    int CharWidth = 8;
    mutable QSize PaintDeviceSize; // of the last painting canvas

    std::vector<TCanvasCall> Texts() const {
        std::vector<TCanvasCall> out;
        for (const auto& c : Log)
            if (c.Kind == TCanvasCall::Text) out.push_back(c);
        return out;
    }
    // Paints the label now and returns what it drew.
    std::vector<TCanvasCall> Paint() {
        Log.clear();
        grab();
        return Log;
    }

protected:
    std::unique_ptr<TMarkupCanvas> CreateCanvas(QPaintDevice* device, QPainter* painter) const override {
        if (painter && device) PaintDeviceSize = QSize(device->width(), device->height());
        return std::make_unique<TFakeCanvas>(CharWidth, 12, &Log);
    }
};

class Label : public ::testing::Test {
protected:
    Label() {
        parent.resize(600, 400);
        label = new TTestLabel(&parent);
        label->move(10, 20);
    }
    void Move(int x, int y) {
        QMouseEvent e(QEvent::MouseMove, QPointF(x, y), label->mapToGlobal(QPointF(x, y)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(label, &e);
    }
    void Press(int x, int y, Qt::MouseButton button = Qt::LeftButton) {
        QMouseEvent e(QEvent::MouseButtonPress, QPointF(x, y), label->mapToGlobal(QPointF(x, y)), button,
                      button, Qt::NoModifier);
        QApplication::sendEvent(label, &e);
    }
    void AutoSize() {
        label->SetAutoSizing(true);
        label->SetAutoSizeType(asBoth);
    }

    QWidget parent;
    TTestLabel* label;
};

TEST_F(Label, Defaults) {
    EXPECT_EQ(label->width(), 120);
    EXPECT_FALSE(label->AutoSizing());
    EXPECT_EQ(label->AutoSizeType(), asVertical);
    EXPECT_TRUE(label->Transparent());
    EXPECT_EQ(label->ColorTo(), clNone);
    EXPECT_EQ(label->GradientType(), gtFullHorizontal);
    EXPECT_EQ(label->LineWidth(), 2);
    EXPECT_EQ(label->BevelInner(), bvNone);
    EXPECT_EQ(label->BevelOuter(), bvNone);
    EXPECT_EQ(label->BevelWidth(), 1);
    EXPECT_EQ(label->BorderStyle(), bsNone);
    EXPECT_EQ(label->BorderWidth(), 0);
    EXPECT_EQ(label->BorderColor(), clBlack);
    EXPECT_EQ(label->URLColor(), clBlue);
    EXPECT_FALSE(label->Hover());
    EXPECT_EQ(label->HoverColor(), clNone);
    EXPECT_EQ(label->HoverFontColor(), clNone);
    EXPECT_EQ(label->ShadowColor(), clGray);
    EXPECT_EQ(label->ShadowOffset(), 2);
    EXPECT_FALSE(label->Ellipsis());
    EXPECT_EQ(label->LineSpacing(), 0);
    EXPECT_EQ(label->VAlignment(), tvaTop);
    EXPECT_EQ(label->Images(), nullptr);
    EXPECT_EQ(label->PictureContainer(), nullptr);
    EXPECT_FALSE(label->AnchorHint() || label->HTMLHint() || label->HintShowFull());
    label->SetVersion("9.9");
    EXPECT_EQ(label->Version(), "1.8.3.4");
    EXPECT_EQ(label->GetVersionNr(), 0x01080304);
}

TEST_F(Label, AutoSizeToTheText) {
    AutoSize();
    EXPECT_EQ(label->size(), QSize(6, 18)); // no line: width output 0; the font's line height
    label->CharWidth = 10;
    label->HTMLText().Add("abcde");
    EXPECT_EQ(label->size(), QSize(58, 18));
    label->HTMLText().Add("fg");
    EXPECT_EQ(label->size(), QSize(88, 18)); // "abcde fg"
    label->HTMLText().SetText("abcde<br>fg");
    EXPECT_EQ(label->size(), QSize(58, 30));

    // Height only: the text wraps at the width it has.
    label->SetAutoSizeType(asVertical);
    label->resize(50, 10);
    label->HTMLText().SetText("aaa bbb ccc");
    EXPECT_EQ(label->size(), QSize(50, 42));
}

TEST_F(Label, TextLinesAndWholeAssignment) {
    label->HTMLText().Add("a");
    label->HTMLText().Add("b");
    EXPECT_EQ(label->DisplayText(), "a b");
    label->SetHTMLText({"a", "b"});
    EXPECT_EQ(label->DisplayText(), "ab");
    EXPECT_EQ(label->HTMLText().Count(), 1);
    label->HTMLText().SetText("x\r\ny\r\n");
    EXPECT_EQ(label->HTMLText().Count(), 2);
    EXPECT_EQ(label->DisplayText(), "x y");
}

TEST_F(Label, PaintsFromTheTopLeftAndRepeatsTheSizing) {
    AutoSize();
    label->HTMLText().SetText("<b>ab</b> cd");
    label->resize(97, 21); // as placed on a form; the paint sizes it again
    const auto calls = label->Paint();
    const auto texts = label->Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].Box.Left, 0);
    EXPECT_EQ(texts[0].Box.Top, 0);
    EXPECT_EQ(texts[0].Box.Bottom, 12);
    EXPECT_TRUE(texts[0].Font.Bold);
    EXPECT_EQ(label->size(), QSize(5 * 8 + 2 + 6, 18));
    for (const auto& c : calls)
        EXPECT_NE(c.Kind, TCanvasCall::Fill); // transparent: no background
}

TEST_F(Label, OpaqueBackgroundBevelsAndVerticalAlignment) {
    label->SetTransparent(false);
    label->SetColor(0x00FF00);
    label->resize(100, 40);
    label->HTMLText().SetText("x");
    label->SetVAlignment(tvaCenter);
    auto calls = label->Paint();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].Kind, TCanvasCall::Fill);
    EXPECT_EQ(calls[0].Box, (TRect{0, 0, 100, 40}));
    EXPECT_EQ(calls[0].Color, 0x00FF00);
    EXPECT_EQ(label->Texts().at(0).Box.Top, 14); // (40 - 12) / 2
    EXPECT_EQ(label->Texts().at(0).Background, clNone);

    label->SetVAlignment(tvaTop);
    label->SetBevelOuter(bvLowered);
    label->SetBevelWidth(2);
    calls = label->Paint();
    // Two rings: top and left in the button shadow, then the text 2 + 2 inside.
    EXPECT_EQ(calls[1].Box, (TRect{0, 0, 99, 1}));
    EXPECT_EQ(calls[1].Color, clBtnShadow);
    EXPECT_EQ(calls[3].Color, clBtnHighlight);
    EXPECT_EQ(calls[5].Box, (TRect{1, 1, 98, 2}));
    EXPECT_EQ(label->Texts().at(0).Box.Left, 4);
}

// An opaque label paints through a bitmap; auto-sized to a long text it is
// far larger than its parent, and only what shows is ever buffered.
TEST_F(Label, AnOpaqueAutoSizedLabelBuffersOnlyWhatShows) {
    label->SetTransparent(false);
    label->SetColor(0x00FF00);
    AutoSize();
    QString lines;
    for (int i = 0; i < 400; ++i)
        lines += QString(1000, u'x') + QStringLiteral("<br>");
    label->HTMLText().SetText(lines);
    ASSERT_EQ(label->size(), QSize(8000 + 2 + 6, 400 * 12 + 6));

    parent.grab();
    EXPECT_EQ(label->PaintDeviceSize, QSize(600 - 10, 400 - 20)) << "the part inside the parent";
    // Painted in the label's own coordinates all the same.
    const auto fills = label->Paint();
    ASSERT_FALSE(fills.empty());
    EXPECT_EQ(fills[0].Box, (TRect{0, 0, 8008, 4806}));
}

TEST_F(Label, SingleBorderWidensAndHitsWhereItPaints) {
    AutoSize();
    label->HTMLText().SetText("<a href=\"x\">link</a>");
    EXPECT_EQ(label->size(), QSize(32 + 2 + 6, 18));
    label->SetBorderStyle(bsSingle);
    label->SetBorderWidth(3);
    EXPECT_EQ(label->size(), QSize(32 + 2 + 6 + 6, 18 + 6));
    label->Paint();
    const auto texts = label->Texts();
    ASSERT_EQ(texts.size(), 1u);
    const TRect& box = texts[0].Box;
    EXPECT_EQ(box.Left, 5); // three rings, then half the border pen
    EXPECT_EQ(box.Top, 5);
    for (const auto& [x, y, href] : std::vector<std::tuple<int, int, const char*>>{{box.Left, 10, "x"},
                                                                                   {box.Left + 32, 10, "x"},
                                                                                   {box.Left - 1, 10, ""},
                                                                                   {box.Left + 33, 10, ""},
                                                                                   {10, box.Top, ""},
                                                                                   {10, box.Top + 11, "x"},
                                                                                   {10, box.Top + 12, ""}})
        EXPECT_EQ(label->AnchorAt(x, y), href) << x << "," << y;
}

TEST_F(Label, AnchorEnterAndExit) {
    AutoSize();
    label->HTMLText().SetText("<a href=\"one\">aaa</a> <a href=\"two\">bbb</a> plain");
    std::vector<std::string> events;
    label->OnAnchorEnter = [&](THTMLabel*, const QString& a) {
        events.push_back("enter:" + a.toStdString());
    };
    label->OnAnchorExit = [&](THTMLabel*, const QString& a) { events.push_back("exit:" + a.toStdString()); };

    Move(4, 5);
    EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor);
    Move(12, 5); // still on the first anchor
    Move(36, 5); // straight onto the second
    EXPECT_EQ(label->HoverHyperLink(), 2);
    EXPECT_EQ(label->CurrHoverRect(), (TRect{32, 0, 56, 12}));
    Move(70, 5);
    Move(80, 5);
    EXPECT_EQ(events, (std::vector<std::string>{"enter:one", "enter:two", "exit:"}));
    EXPECT_FALSE(label->testAttribute(Qt::WA_SetCursor)); // the default cursor again
    EXPECT_EQ(label->Anchor(), "two");
    EXPECT_EQ(label->HoverHyperLink(), -1);
}

TEST_F(Label, ClicksRaiseTheEventAndOpenLinks) {
    std::vector<std::string> log;
    TLinkCatcher catcher;
    catcher.Log = &log;
    for (const char* scheme : {"mailto", "http", "https", "file"})
        QDesktopServices::setUrlHandler(scheme, &catcher, "Open");

    AutoSize();
    label->HTMLText().SetText("<a href=\"mailto:office@example.com\">mail</a> <a href=\"page2\">page</a> <a "
                              "href=\"http://example.com/\">web</a>");
    label->OnAnchorClick = [&](THTMLabel*, const QString& a) { log.push_back("click:" + a.toStdString()); };
    Press(5, 5);
    Press(45, 5);
    Press(85, 5);
    Press(5, 5, Qt::RightButton); // nothing
    Press(150, 5);                // no anchor
    EXPECT_EQ(log, (std::vector<std::string>{"click:mailto:office@example.com",
                                             "open:mailto:office@example.com", "click:page2",
                                             "click:http://example.com/", "open:http://example.com/"}));
    for (const char* scheme : {"mailto", "http", "https", "file"})
        QDesktopServices::unsetUrlHandler(scheme);
}

TEST_F(Label, BeginUpdateHoldsTextUntilTheLastEndUpdate) {
    label->HTMLText().SetText("text");
    label->BeginUpdate();
    label->BeginUpdate();
    label->Paint();
    EXPECT_TRUE(label->Texts().empty());
    label->EndUpdate();
    label->Paint();
    EXPECT_TRUE(label->Texts().empty());
    // The last EndUpdate repaints by itself.
    parent.show();
    QApplication::processEvents();
    label->Log.clear();
    label->EndUpdate();
    QApplication::processEvents();
    EXPECT_EQ(label->Texts().size(), 1u);
    label->EndUpdate(); // one too many changes nothing
    label->Paint();
    EXPECT_EQ(label->Texts().size(), 1u);
}

TEST_F(Label, Hints) {
    AutoSize();
    label->HTMLText().SetText("<b>Bold</b> <a href=\"target\">link</a>");
    label->SetHint("plain hint");
    EXPECT_EQ(label->HintAt({60, 5}).Text, "plain hint");

    label->SetAnchorHint(true);
    const auto over = label->HintAt({60, 5});
    EXPECT_EQ(over.Text, "target");
    EXPECT_EQ(over.Pos, label->mapToGlobal(QPoint(60, 5)) + QPoint(10, -10));
    label->OnAnchorHint = [](THTMLabel*, QString& a) { a = "changed " + a; };
    EXPECT_EQ(label->HintAt({60, 5}).Text, "changed target");
    EXPECT_EQ(label->HintAt({5, 5}).Text, "plain hint");

    label->SetHintShowFull(true);
    EXPECT_EQ(label->HintAt({5, 5}).Text, "Bold link");
    EXPECT_EQ(label->HintAt({60, 5}).Text, "changed target");
    label->SetHTMLHint(true);
    EXPECT_EQ(label->HintAt({5, 5}).Text, label->DisplayText());
}

TEST_F(Label, HighlightAndMark) {
    label->HTMLText().SetText("abc <b>Abc</b>");
    label->HilightText("b", false);
    EXPECT_EQ(label->HTMLText().Text(), "a<hi>b</hi>c <b>A<hi>b</hi>c</b>\r\n");
    label->Paint();
    const auto texts = label->Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[1].Shown, "b");
    EXPECT_EQ(texts[1].Background, clHighlight);
    label->UnHilightText();
    EXPECT_EQ(label->HTMLText().Text(), "abc <b>Abc</b>\r\n");
    label->MarkText("ABC", true);
    EXPECT_EQ(label->HTMLText().Text(), "abc <b>Abc</b>\r\n");
    label->MarkText("Abc", true);
    EXPECT_EQ(label->HTMLText().Text(), "abc <e><b>Abc</e></b>\r\n");
    label->UnMarkText();
    EXPECT_EQ(label->HTMLText().Text(), "abc <b>Abc</b>\r\n");
}

TEST_F(Label, TextChangesClearThePictureCache) {
    label->HTMLText().SetText("<img src=\"http://example.com/a.gif\">");
    label->Paint();
    EXPECT_EQ(label->ImageCache().Count(), 1u);
    label->HTMLText().Add("more");
    EXPECT_EQ(label->ImageCache().Count(), 0u);
}

TEST_F(Label, ForgetsDestroyedImageListsAndContainers) {
    auto list = std::make_unique<TCustomImageList>();
    auto container = std::make_unique<TPictureContainer>();
    label->SetImages(list.get());
    label->SetPictureContainer(container.get());
    list.reset();
    container.reset();
    EXPECT_EQ(label->Images(), nullptr);
    EXPECT_EQ(label->PictureContainer(), nullptr);
    label->Paint(); // and paints without them
}

TEST_F(Label, SizeQueriesAndPrinting) {
    label->HTMLText().SetText("aaa bbb ccc");
    EXPECT_EQ(label->GetSizeWithMaxWidth(64), QSize(58, 24));
    EXPECT_EQ(label->GetSizeWithMaxWidth(1000), QSize(90, 12));

    label->HTMLText().SetText("<sh>p</sh>");
    TFakeCanvas printer(8, 12);
    label->HTMLPrint(printer, {100, 50, 300, 200});
    const auto texts = printer.TextCalls();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].Box, (TRect{101, 51, 301, 63})); // shadow offset 1
    EXPECT_EQ(texts[1].Box, (TRect{100, 50, 300, 62}));
}

} // namespace

#include "HTMLabel_test.moc"
