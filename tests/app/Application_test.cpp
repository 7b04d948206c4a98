#include "app/Application.h"
#include "app/Unit1.h"
#include "platform/Exception.h"
#include "platform/qt/QtPlatform.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

using namespace ostrakel;

namespace {

class TThrowingObject : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw Exception("Field kod1 not found");
        return QObject::event(e);
    }
};

} // namespace

TEST(Application, AnErrorEscapingAnyEventIsShownAndTheLoopGoesOn) {
    test::TFakeDialogs dialogs;
    static_cast<TApplication*>(qApp)->SetErrorBox(&dialogs, "ostrakel");
    TThrowingObject target;
    QEvent first(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &first));
    // Posted through the running loop as well: the loop survives and quits normally.
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QTimer::singleShot(50, qApp, &QCoreApplication::quit);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    ASSERT_EQ(dialogs.Shown.size(), 2u);
    for (const auto& box : dialogs.Shown) {
        EXPECT_TRUE(box.Error);
        EXPECT_EQ(box.Title, "ostrakel");
        EXPECT_EQ(box.Text, "Field kod1 not found.");
    }
    static_cast<TApplication*>(qApp)->SetErrorBox(nullptr, "");
}

namespace {

// Plain boxes are only recorded (start-up without databases has one); error
// boxes are real Qt boxes owned by the window.
class TRealErrorBoxes : public IDialogs {
public:
    void ShowMessage(const std::string&, const std::string&) override {}
    void ShowError(const std::string& title, const std::string& text) override {
        ++Errors;
        TQtDialogs(Parent).ShowError(title, text);
    }
    QWidget* Parent = nullptr;
    int Errors = 0;
};

} // namespace

TEST(Application, APassFailingWhileTheWindowIsHiddenShowsItsBoxAndTheProgramGoesOn) {
    test::TTempDir dir;
    TRealErrorBoxes boxes;
    TFormEnvironment env;
    env.ProgramDir = dir.Path();
    env.Dialogs = &boxes;
    env.TrayAvailable = true;
    TForm1 form(env);
    boxes.Parent = &form;
    form.show();
    form.Button2Click(); // "Do ikony": hidden in the tray
    ASSERT_FALSE(form.isVisible());

    bool boxSeen = false, stillRunning = false;
    // The pass fails (no databases) and its error box waits for the operator ...
    QTimer::singleShot(0, &form, [&] { form.Guard([&] { form.Button1Click(); }); });
    // ... who closes it.
    QTimer::singleShot(300, qApp, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxSeen = true;
            box->accept();
        }
    });
    QTimer::singleShot(1200, qApp, [&] {
        stillRunning = true;
        QCoreApplication::exit(7);
    });
    EXPECT_EQ(QCoreApplication::exec(), 7) << "the program ended when the box closed";
    EXPECT_TRUE(boxSeen);
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(boxes.Errors, 1);
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
