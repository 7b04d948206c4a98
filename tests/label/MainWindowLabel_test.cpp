// The main window's description label: it takes the description, grows to
// it without wrapping, and the window is rendered to a PNG for a person to
// look at.
#include "app/Unit1.h"
#include "label/HTMLabel.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <fstream>
#include <gtest/gtest.h>
#include <iostream>

using namespace ostrakel;

namespace {

// The program's canvas, noting where each piece of text starts.
class TRecordingCanvas : public TQtMarkupCanvas {
public:
    using TQtMarkupCanvas::TQtMarkupCanvas;
    void DrawText(const QString& text, const TRect& box, const TTextOptions& options) override {
        Drawn.push_back({text, box.Left});
        TQtMarkupCanvas::DrawText(text, box, options);
    }
    std::vector<std::pair<QString, int>> Drawn;
};

class MainWindowLabel : public ::testing::Test {
protected:
    TForm1& Form(const std::string& ini) {
        std::ofstream(dir.File("setup.ini"), std::ios::binary) << ini;
        TFormEnvironment env;
        env.Clock = &clock;
        env.ProgramDir = dir.Path();
        env.Dialogs = &dialogs;
        env.ExecutableName = "ostrakel";
        env.TrayAvailable = false;
        form = std::make_unique<TForm1>(env);
        return *form;
    }
    // The layout the label makes of its text, measured apart from it.
    TRenderResult Measured(THTMLabel& label) {
        TQtMarkupCanvas canvas(&label, nullptr);
        canvas.SetFont(MarkupFontFrom(label.font(), label.FontColor()));
        TRenderParams p;
        p.Canvas = &canvas;
        p.Text = label.DisplayText();
        p.Rect = {0, 0, 1 << 20, 1 << 20};
        p.CheckOnly = true;
        return RenderMarkup(p);
    }

    test::TTempDir dir;
    test::TFakeClock clock{EncodeDateTime({2014, 3, 5, 10, 20, 30, 0})};
    test::TFakeDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

TEST_F(MainWindowLabel, DescriptionGrowsTheLabelWithoutWrapping) {
    TForm1& f = Form("[sql]\nkalimbor=/srv/firebird/zaklad/produkcja/formy/wtryskowe/kalimbor/\n"
                     "vendrel=/srv/firebird/vendrel/\n[set]\ngodzina=5\nhistoria=1\nlog=1\n");
    THTMLabel& label = *f.HTMLabel1;
    EXPECT_EQ(label.DisplayText(), QString::fromStdString(f.Description()));
    EXPECT_EQ(label.font().family(), "Arial");
    EXPECT_EQ(label.font().pixelSize(), 12);
    EXPECT_TRUE(label.AutoSizing());
    EXPECT_EQ(label.AutoSizeType(), asBoth);
    EXPECT_TRUE(label.Transparent());

    const QSize windowSize = f.size();
    f.show();
    QApplication::processEvents();
    EXPECT_EQ(f.size(), windowSize); // the label grows, the window does not
    const TRenderResult r = Measured(label);
    const int lineHeight = QFontMetrics(label.font(), &label).height();
    // Header, empty line, two paths, the time, an empty line, history, log:
    // eight lines, none of them wrapped.
    EXPECT_EQ(r.YSize, 8 * lineHeight);
    EXPECT_EQ(label.pos(), QPoint(8, 8));
    EXPECT_EQ(label.width(), r.XSize + 6);
    EXPECT_EQ(label.height(), r.YSize + 6);
    EXPECT_GT(label.width(), 97);

    // The database paths start 100 pixels from the label's left edge.
    QImage image(label.size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    TRecordingCanvas canvas(&image, &painter);
    canvas.SetFont(MarkupFontFrom(label.font(), label.FontColor()));
    TRenderParams p;
    p.Canvas = &canvas;
    p.Text = label.DisplayText();
    p.Rect = {0, 0, label.width(), label.height()};
    RenderMarkup(p);
    int paths = 0;
    for (const auto& [text, left] : canvas.Drawn)
        if (text.startsWith("/srv/firebird/")) {
            EXPECT_EQ(left, 100) << text.toStdString();
            ++paths;
        }
    EXPECT_EQ(paths, 2);

    const QString dirName = QStringLiteral(SCREENSHOT_DIR);
    QDir().mkpath(dirName);
    const QString file = dirName + "/main_window_label.png";
    ASSERT_TRUE(f.grab().save(file, "PNG"));
    std::cout << "[ screenshot ] " << file.toStdString() << "\n";
}

TEST_F(MainWindowLabel, SwitchesOffAndEmptyPaths) {
    TForm1& f = Form("");
    THTMLabel& label = *f.HTMLabel1;
    f.show();
    QApplication::processEvents();
    const int lineHeight = QFontMetrics(label.font(), &label).height();
    const TRenderResult r = Measured(label);
    // Header, empty line, two path lines with nothing after the indent, the
    // time, and the empty line of the final break.
    EXPECT_EQ(r.YSize, 6 * lineHeight);
    EXPECT_EQ(label.size(), QSize(r.XSize + 6, r.YSize + 6));
}

} // namespace
