#include <ChangeBatch.h>
#include <UndoStack.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <thread>
#include <utility>

using namespace graphtest;

namespace {

struct Item : Node {
    Property<int> x{*this, "x", 0};
    Property<int> y{*this, "y", 0};
};

// Nodes 0..n-1 whose touches, first event names and changed values are counted.
struct Shape {
    explicit Shape(std::size_t p_count, std::vector<std::pair<int, int>> const& p_edges) {
        for (std::size_t i = 0; i < p_count; ++i) {
            nodes.push_back(Node::Create<Item>());
            subscriptions.push_back(nodes[i]->OnTouched([this, i](TouchEvent const& p_event) {
                ++touches[i];
                names[i] += p_event.name;
            }));
            subscriptions.push_back(nodes[i]->x.OnChanged([this, i](Property<int> const& p_x) {
                changes.push_back(std::to_string(i) + "=" + std::to_string(p_x.Get()));
            }));
        }
        for (auto const& edge : p_edges) {
            nodes[static_cast<std::size_t>(edge.first)]->Deps().Insert(*nodes[static_cast<std::size_t>(edge.second)]);
        }
    }
    std::vector<int> Counts() const {
        std::vector<int> counts;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            auto const found = touches.find(i);
            counts.push_back(found == touches.end() ? 0 : found->second);
        }
        return counts;
    }
    std::vector<Ptr<Item>> nodes;
    std::vector<Subscription> subscriptions;
    std::map<std::size_t, int> touches;
    std::map<std::size_t, std::string> names;
    std::vector<std::string> changes;
};

struct Axis : Node {
    Property<int> max{*this, "max", 1};
    ExplicitRef next{*this, "next"};
    int throwTouches = 0;  // the next touches that throw

protected:
    void TouchThis(ModifiableType type, Change change, Relationship relationship, WeakPtr<Node> const& p_originator,
                   std::string const& name, boost::any const& value) override {
        if (throwTouches > 0 && change != Deallocate) {
            --throwTouches;
            throw std::runtime_error("refused");
        }
        Node::TouchThis(type, change, relationship, p_originator, name, value);
    }
};

}  // namespace

// Each shape gets the same edits (x of a node set to a value, y set once)
// outside a batch and inside one; the counts are what every node hears.
TEST(ChangeBatchTest, ShapesHearEachChangeOutsideAndOnceInsideABatch) {
    struct Case {
        char const* shape;
        std::size_t count;
        std::vector<std::pair<int, int>> edges;  // (source, dependent)
        std::vector<std::pair<int, int>> sets;   // (node, value of x)
        std::vector<int> outside;
        std::vector<int> inside;
        std::vector<std::string> changesInside;
    } const cases[] = {
        {"chain", 4, {{0, 1}, {1, 2}, {2, 3}}, {{0, 1}, {0, 2}, {0, 3}}, {4, 4, 4, 4}, {1, 1, 1, 1}, {"0=3"}},
        {"fan-out", 4, {{0, 1}, {0, 2}, {0, 3}}, {{0, 1}, {2, 5}, {0, 2}}, {3, 3, 4, 3}, {1, 1, 1, 1}, {"0=2", "2=5"}},
        {"diamond", 4, {{0, 1}, {0, 2}, {1, 3}, {2, 3}}, {{0, 1}, {0, 2}}, {3, 3, 3, 6}, {1, 1, 1, 1}, {"0=2"}},
        {"cycle", 3, {{0, 1}, {1, 2}, {2, 0}}, {{0, 1}, {1, 2}}, {5, 4, 3}, {1, 1, 1}, {"0=1", "1=2"}},
        {"apart", 3, {{0, 1}}, {{2, 7}, {0, 1}}, {2, 2, 1}, {1, 1, 1}, {"2=7", "0=1"}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.shape);
        for (bool const batched : {false, true}) {
            Shape shape(c.count, c.edges);
            {
                std::unique_ptr<ChangeBatch> batch(batched ? new ChangeBatch() : nullptr);
                for (auto const& set : c.sets) {
                    Item& item = *shape.nodes[static_cast<std::size_t>(set.first)];
                    std::uint64_t const before = item.Time().Counter();
                    item.x.Set(set.second);
                    EXPECT_GT(item.Time().Counter(), before) << "stamped at once";
                }
                shape.nodes[0]->y.Set(9);
                if (batched) {
                    EXPECT_TRUE(shape.touches.empty() && shape.changes.empty()) << "nothing heard before the commit";
                    batch->Commit();
                    EXPECT_FALSE(batch->Active());
                }
            }
            EXPECT_EQ(shape.Counts(), batched ? c.inside : c.outside);
            if (batched) {
                EXPECT_EQ(shape.changes, c.changesInside) << "final values, in the order first changed";
                EXPECT_EQ(shape.names[0], "x") << "one event, the first touch's";
            } else {
                EXPECT_EQ(shape.changes.size(), c.sets.size());
            }
        }
    }
}

TEST(ChangeBatchTest, EndsAreNotDeferredAndNestedBatchesCommitWithTheOutermost) {
    Shape shape(3, {{0, 1}, {0, 2}});
    ChangeBatch outer;
    {
        ChangeBatch inner;
        shape.nodes[0]->x.Set(1);
        inner.Commit();
        EXPECT_THROW(inner.Commit(), std::logic_error);
    }
    EXPECT_TRUE(shape.touches.empty()) << "the outermost batch commits";
    shape.nodes[2] = Ptr<Item>();  // its end is heard at once by itself
    EXPECT_EQ(shape.Counts(), (std::vector<int>{0, 0, 1}));
    shape.nodes[1]->x.Set(4);
    shape.nodes[1] = Ptr<Item>();  // touched, then ended: skipped
    outer.Commit();
    EXPECT_EQ(shape.Counts(), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(shape.changes, (std::vector<std::string>{"0=1"}));

    // Touches on another thread propagate at once there.
    ChangeBatch mine;
    std::thread([&] { shape.nodes[0]->x.Set(2); }).join();
    EXPECT_EQ(shape.Counts(), (std::vector<int>{2, 1, 1}));
    std::thread([&] { EXPECT_THROW(mine.Commit(), std::logic_error); }).join();
}

TEST(ChangeBatchTest, ACommitThrowsWhatACallbackThrowsAndTheDestructorReportsIt) {
    for (bool const explicitCommit : {true, false}) {
        Shape shape(3, {{0, 1}, {1, 2}});
        Subscription const thrower =
            shape.nodes[1]->OnTouched([](TouchEvent const&) { throw std::runtime_error("no"); });
        capture cap;
        {
            ChangeBatch batch;
            shape.nodes[0]->x.Set(1);
            if (explicitCommit) {
                EXPECT_THROW(batch.Commit(), std::runtime_error);
                EXPECT_FALSE(batch.Active());
            }
        }
        EXPECT_EQ(shape.Counts(), (std::vector<int>{1, 1, 0})) << "the walk stopped where it threw";
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure),
                  explicitCommit ? Names{} : Names{"ChangeBatch: the commit in the destructor threw: no"});
        // The thread's batches work on afterwards.
        shape.touches.clear();
        ChangeBatch next;
        shape.nodes[2]->x.Set(2);
        next.Commit();
        EXPECT_EQ(shape.Counts(), (std::vector<int>{0, 0, 1}));
    }
}

TEST(UndoStackTest, TextsLimitEndedNodesAndWatchersOfTheUndo) {
    UndoStack stack;
    Ptr<Axis> const a = Node::Create<Axis>();
    Ptr<Axis> b = Node::Create<Axis>();
    int heard = 0;
    Subscription const watch = a->max.OnChanged([&](Property<int> const&) { ++heard; });
    for (int i = 2; i <= 4; ++i) {
        UndoStack::Transaction edit(stack, "max " + std::to_string(i));
        a->max.Set(i);
        a->max.Set(i * 10);  // two changes, heard once on undo
        b->max.Set(i);
        edit.Commit();
    }
    {
        UndoStack::Transaction nothing(stack, "nothing");
        nothing.Commit();
    }
    EXPECT_EQ(stack.UndoText(), "max 4") << "a transaction that recorded nothing adds nothing";
    stack.SetLimit(2);
    b = Ptr<Axis>();  // its changes are skipped
    heard = 0;
    EXPECT_TRUE(stack.Undo());
    EXPECT_EQ(heard, 1) << "one batch";
    EXPECT_EQ(a->max.Get(), 30);
    EXPECT_EQ(stack.RedoText(), "max 4");
    EXPECT_TRUE(stack.Undo());
    EXPECT_FALSE(stack.Undo()) << "the oldest went beyond the limit";
    EXPECT_EQ(a->max.Get(), 20);
    EXPECT_TRUE(stack.Redo());
    EXPECT_EQ(a->max.Get(), 30);
    {
        UndoStack::Transaction edit(stack, "other");
        a->max.ResetValue();
        edit.Commit();
    }
    EXPECT_FALSE(stack.CanRedo()) << "a commit clears the redo side";
    EXPECT_TRUE(stack.Undo());
    EXPECT_EQ(a->max.Get(), 30) << "an undefined value undone";
}

TEST(UndoStackTest, MisuseIsRefusedAndThrowingEditsLeaveTheStackConsistent) {
    UndoStack stack;
    Ptr<Axis> const a = Node::Create<Axis>();
    Ptr<Axis> const b = Node::Create<Axis>();
    {
        UndoStack::Transaction edit(stack, "edit");
        a->max.Set(5);
        a->next.Attach(b);
        EXPECT_THROW(stack.Undo(), std::logic_error);
        std::thread([&] { EXPECT_THROW(UndoStack::Transaction(stack, "there"), std::logic_error); }).join();
        edit.Commit();
        EXPECT_THROW(edit.Commit(), std::logic_error);
    }
    // A TouchThis that throws once: the undo is taken back and stays to be done.
    a->throwTouches = 1;
    EXPECT_THROW(stack.Undo(), std::runtime_error);
    EXPECT_EQ(a->max.Get(), 5);
    EXPECT_EQ(a->next.Get(), b);
    EXPECT_EQ(stack.UndoText(), "edit");
    // A callback that throws as the batch commits: fully undone, to redo.
    Subscription const thrower = a->OnTouched([](TouchEvent const&) { throw std::runtime_error("callback"); });
    EXPECT_THROW(stack.Undo(), std::runtime_error);
    EXPECT_EQ(a->max.Get(), 1);
    EXPECT_FALSE(a->next.IsSet());
    EXPECT_EQ(stack.RedoText(), "edit");
    EXPECT_FALSE(stack.CanUndo());
}
