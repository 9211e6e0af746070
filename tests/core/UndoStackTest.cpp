#include <ChangeBatch.h>
#include <UndoStack.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using namespace graphtest;

namespace {

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
