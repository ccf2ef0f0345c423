#include <gtest/gtest.h>

#include "queue/ImageQueue.h"

namespace scarlex {
namespace {

TEST(QueueNames, AcceptsOnlyJpgInAnyCase) {
    struct Case {
        const char* name;
        bool accepted;
    };
    const Case cases[] = {
        {"/p/IMG_1.jpg", true},  {"/p/IMG_1.JPG", true},    {"/p/a.JpG", true},       {"rel.jpg", true},
        {"/p/a.jpeg", false},    {"/p/a.JPEG", false},      {"/p/a.jpg.png", false},  {"/p/a", false},
        {"/p.jpg/a", false},     {"/p/.jpg", true},         {"", false},              {"/p/a.jpg ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsAcceptedName(c.name), c.accepted);
    }
}

TEST(QueueNames, DroppedNamesLoseTheirLineEnds) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"/p/a.jpg", "/p/a.jpg"},
        {"/p/a.jpg\r\n", "/p/a.jpg"},
        {"/p/a.jpg\n", "/p/a.jpg"},
        {"/p/a.jpg\r", "/p/a.jpg"},
        // The character after each line end goes with it.
        {"/p/a\rXb.jpg", "/p/ab.jpg"},
        {"/p/a\nXb.jpg\r\n", "/p/ab.jpg"},
        // Only the first of each.
        {"/p/a\r\n\r\nb.jpg", "/p/a\r.jpg"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
        EXPECT_EQ(CleanDroppedName(c.in), c.out);
    }
}

// Records what the queue asks of the window.
struct FakeHost : QueueHost {
    bool possible = false;
    bool next = false;
    bool autoSaveNext = false;
    std::vector<std::string> loads;
    LoadOutcome outcome = LoadOutcome::Loaded;
    bool AutoSavePossible() override { return possible; }
    void SetNextEnabled(bool e) override { next = e; }
    void SetAutoSaveNextEnabled(bool e) override { autoSaveNext = e; }
    LoadOutcome LoadImageFile(const std::string& name) override {
        loads.push_back(name);
        return outcome;
    }
};

TEST(QueueOrder, OffersKeepOrderAndSkipRejected) {
    FileQueue q;
    EXPECT_EQ(q.OfferAll({"/a.jpg", "/b.jpeg", "/c.JPG", "/d.png"}), 2u);
    ASSERT_EQ(q.Count(), 2u);
    EXPECT_EQ(q.Names()[0], "/a.jpg");
    EXPECT_EQ(q.Names()[1], "/c.JPG");
}

TEST(QueueOrder, OneNameLoadsAndLeavesNextOff) {
    FileQueue q;
    FakeHost host;
    host.next = host.autoSaveNext = true;  // whatever they were
    q.Offer("/a.jpg");
    EXPECT_EQ(OpenNextPending(q, host, AutoSaveTest::Apply).name, "/a.jpg");
    EXPECT_EQ(host.loads, std::vector<std::string>{"/a.jpg"});
    EXPECT_FALSE(host.next);
    EXPECT_FALSE(host.autoSaveNext);
    EXPECT_TRUE(q.Empty());
}

struct ThreeNames : testing::TestWithParam<std::tuple<AutoSaveTest, bool>> {};

TEST_P(ThreeNames, NextButtonsFollowTheQueue) {
    auto [test, possible] = GetParam();
    FileQueue q;
    FakeHost host;
    host.possible = possible;
    q.OfferAll({"/1.jpg", "/2.jpg", "/3.jpg"});
    OpenNextPending(q, host, test);
    EXPECT_EQ(host.loads.back(), "/1.jpg");
    EXPECT_TRUE(host.next);
    EXPECT_EQ(host.autoSaveNext, test == AutoSaveTest::Skip || possible);
    EXPECT_EQ(OpenNextInQueue(q, host).name, "/2.jpg");
    EXPECT_TRUE(host.next);
    EXPECT_EQ(OpenNextInQueue(q, host).name, "/3.jpg");
    EXPECT_FALSE(host.next);
    EXPECT_FALSE(host.autoSaveNext);
    EXPECT_EQ(OpenNextInQueue(q, host).name, "");
    EXPECT_EQ(host.loads.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Paths, ThreeNames,
                         testing::Combine(testing::Values(AutoSaveTest::Apply, AutoSaveTest::Skip), testing::Bool()),
                         [](const testing::TestParamInfo<ThreeNames::ParamType>& info) {
                             return std::string(std::get<0>(info.param) == AutoSaveTest::Apply ? "Dialog" : "Drop") +
                                    (std::get<1>(info.param) ? "Possible" : "NotPossible");
                         });

TEST(QueueOrder, NewBatchJoinsBehindWaitingNames) {
    FileQueue q;
    FakeHost host;
    q.OfferAll({"/1.jpg", "/2.jpg", "/3.jpg"});
    OpenNextPending(q, host, AutoSaveTest::Apply);  // 1 shown, 2 and 3 wait
    q.Offer("/new.jpg");
    OpenNextPending(q, host, AutoSaveTest::Apply);
    EXPECT_EQ(host.loads.back(), "/2.jpg");
    ASSERT_EQ(q.Count(), 2u);
    EXPECT_EQ(q.Names()[0], "/3.jpg");
    EXPECT_EQ(q.Names()[1], "/new.jpg");
}

TEST(QueueOrder, RejectedBatchWithNothingWaitingLoadsNothingAndLeavesButtons) {
    FileQueue q;
    FakeHost host;
    host.next = true;
    host.autoSaveNext = true;
    q.OfferAll({"/a.jpeg", "/b.png"});
    EXPECT_EQ(OpenNextPending(q, host, AutoSaveTest::Apply).name, "");
    EXPECT_TRUE(host.loads.empty());
    EXPECT_TRUE(host.next);
    EXPECT_TRUE(host.autoSaveNext);
}

TEST(QueueOrder, AFailedLoadDoesNotBlockTheQueue) {
    FileQueue q;
    FakeHost host;
    host.outcome = LoadOutcome::Failed;
    q.OfferAll({"/bad.jpg", "/good.jpg"});
    OpenNextPending(q, host, AutoSaveTest::Apply);
    host.outcome = LoadOutcome::Loaded;
    EXPECT_EQ(OpenNextInQueue(q, host).name, "/good.jpg");
    EXPECT_TRUE(q.Empty());
}

TEST(QueueOrder, ADeclinedNextKeepsTheNameFirstAndTheButtonsOn) {
    FileQueue q;
    FakeHost host;
    q.OfferAll({"/1.jpg", "/2.jpg"});
    OpenNextPending(q, host, AutoSaveTest::Skip);
    host.outcome = LoadOutcome::Declined;
    QueueStep step = OpenNextInQueue(q, host);
    EXPECT_EQ(step.outcome, LoadOutcome::Declined);
    ASSERT_EQ(q.Count(), 1u);
    EXPECT_EQ(q.Front(), "/2.jpg");
    EXPECT_TRUE(host.next);
    EXPECT_TRUE(host.autoSaveNext);
    host.outcome = LoadOutcome::Loaded;
    EXPECT_EQ(OpenNextInQueue(q, host).name, "/2.jpg");
    EXPECT_FALSE(host.next);
}

TEST(OpenDialog, RequestAndRememberedFolder) {
    FileDialogRequest r = MakeOpenDialogRequest(true, "/photos/");
    EXPECT_EQ(r.initialFolder, "/photos/");
    EXPECT_EQ(r.filter, "All (*.jpg;*.jpeg;)|*.jpg;*.jpeg|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg");
    EXPECT_EQ(MakeOpenDialogRequest(false, "/photos/").initialFolder, "");
    EXPECT_EQ(MakeOpenDialogRequest(true, "").initialFolder, "");
    // Without a remembered folder, that of the photograph on screen.
    EXPECT_EQ(MakeOpenDialogRequest(false, "/photos/", "/shoot/IMG_1.jpg").initialFolder, "/shoot/");
    EXPECT_EQ(MakeOpenDialogRequest(true, "", "/shoot/IMG_1.jpg").initialFolder, "/shoot/");
    EXPECT_EQ(MakeOpenDialogRequest(true, "/photos/", "/shoot/IMG_1.jpg").initialFolder, "/photos/");

    EXPECT_EQ(FolderToRemember("/a/b/IMG.jpg", {"/c/x.jpg"}), "/a/b/");
    EXPECT_EQ(FolderToRemember("", {"/c/d/x.jpeg", "/e/y.jpg"}), "/c/d/");
    EXPECT_EQ(FolderToRemember("", {}), "");
}

}  // namespace
}  // namespace scarlex
