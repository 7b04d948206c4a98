#include "platform/Component.h"

#include <gtest/gtest.h>

using namespace ostrakel;

namespace {

std::vector<std::string> journal;

class TProbe : public TComponent {
public:
    TProbe(TComponent* owner, const std::string& name) : TComponent(owner) { SetName(name); }
    ~TProbe() override { journal.push_back("destroy " + Name()); }
    void Loaded() override { journal.push_back("loaded " + Name() + (IsLoading() ? " loading" : "")); }
    void Notification(TComponent* c) override { journal.push_back(Name() + " told of " + c->Name()); }
};

} // namespace

TEST(Component, NamePathSkipsUnnamedOwners) {
    TComponent app;
    auto* form = app.Create<TProbe>("Form1");
    auto* db = form->Create<TProbe>("pFIBDatabaseReports");
    auto* inner = db->Create<TProbe>("");
    auto* tr = inner->Create<TProbe>("pFIBDatabaseReports_InternalTransaction");
    EXPECT_EQ(db->NamePath(), "Form1.pFIBDatabaseReports");
    EXPECT_EQ(tr->NamePath(), "Form1.pFIBDatabaseReports.pFIBDatabaseReports_InternalTransaction");
    EXPECT_EQ(inner->NamePath(), "Form1.pFIBDatabaseReports");
    EXPECT_EQ(form->FindComponent("pFIBDatabaseReports"), db);
    journal.clear();
}

TEST(Component, MembersDieInReverseOrderAndLoadedComesAfterTheDesign) {
    journal.clear();
    {
        TProbe form(nullptr, "Form1");
        form.BeginLoading();
        form.Create<TProbe>("a");
        form.Create<TProbe>("b");
        EXPECT_TRUE(form.Components(1)->IsLoading());
        form.EndLoading();
        EXPECT_FALSE(form.Components(0)->IsLoading());
    }
    const std::vector<std::string> expected = {"loaded a", "loaded b", "loaded Form1", "destroy Form1",
                                               "destroy b", "destroy a"};
    EXPECT_EQ(journal, expected);
}

TEST(Component, FreeNotificationTellsTheSurvivorOnce) {
    journal.clear();
    TProbe keeper(nullptr, "keeper");
    {
        TProbe gone(nullptr, "gone");
        gone.FreeNotification(&keeper);
    }
    EXPECT_EQ(journal, (std::vector<std::string>{"destroy gone", "keeper told of gone"}));
    journal.clear();
}
