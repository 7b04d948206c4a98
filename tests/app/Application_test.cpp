#include "app/Application.h"
#include "platform/Exception.h"
#include "tests/support/Fakes.h"

#include <QEvent>
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

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
