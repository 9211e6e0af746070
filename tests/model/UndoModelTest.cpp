// Random edits in random transactions, some rolled back; then every
// transaction undone and redone, the saved model compared at each step
// with the one saved when that transaction ended.
#include <QelChartIO.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace Qel::Chart::Core;
namespace IO = Qel::Chart::IO;

struct Leaf : Node {
    Property<int> count{*this, "count", 0};
    Property<std::string> label{*this, "label"};
};

struct Part : Node {
    Property<double> size{*this, "size", 1.0};
    ExplicitRef one{*this, "one"};
    ExplicitRefList many{*this, "many"};
    TypedRef<Leaf> axis{*this, "axis", RefLink::Dependent};
    TypedRefList<Leaf> series{*this, "series", RefLink::Dependent};
};

class UndoModel {
public:
    explicit UndoModel(std::uint64_t p_seed) : _random(p_seed) {
        static bool const registered = (IO::RegisterClass<Leaf>("Leaf"), IO::RegisterClass<Part>("Part"), true);
        (void)registered;
        for (int i = 0; i < 4; ++i) {
            _leaves.push_back(_model.Create<Leaf>("leaf" + std::to_string(i)));
            _parts.push_back(_model.Create<Part>("part" + std::to_string(i)));
        }
    }

    std::string Saved() const { return IO::Save(_model); }

    // One edit of any kind the stack records; refusals (cycles) change nothing.
    void Edit() {
        Ptr<Leaf> const& leaf = _leaves[Pick(_leaves.size())];
        Ptr<Part> const& part = _parts[Pick(_parts.size())];
        Ptr<Node> const any = Pick(2) == 0 ? Ptr<Node>(_leaves[Pick(4)]) : Ptr<Node>(_parts[Pick(4)]);
        switch (Pick(12)) {
            case 0:
                leaf->count.Set(static_cast<int>(Pick(100)));
                break;
            case 1:
                leaf->label.Set(std::string(Pick(3), 'x'));
                break;
            case 2:
                leaf->label.ResetValue();
                break;
            case 3:
                part->size.Update(static_cast<double>(Pick(4)));
                break;
            case 4:
                part->one.Attach(any);
                break;
            case 5:
                Pick(2) == 0 ? part->one.Clear() : part->many.Clear();
                break;
            case 6:
                part->many.Attach(any);
                break;
            case 7:
                part->many.Detach(any);
                break;
            case 8:
                part->axis.Attach(leaf);
                break;
            case 9:
                Pick(2) == 0 ? part->series.Attach(leaf) : part->series.Detach(leaf);
                break;
            case 10:
                Pick(2) == 0 ? part->axis.Clear() : part->series.Clear();
                break;
            default: {
                Node& dependent = *_parts[Pick(4)];
                try {
                    Pick(2) == 0 ? (void)dependent.DependOn(*any) : (void)dependent.StopDependingOn(*any);
                } catch (CyclicDependencyFoundExcept const&) {
                }
            }
        }
    }

    std::size_t Pick(std::size_t p_count) {
        return std::uniform_int_distribution<std::size_t>(0, p_count - 1)(_random);
    }

private:
    std::mt19937_64 _random;
    Model _model;
    std::vector<Ptr<Leaf>> _leaves;
    std::vector<Ptr<Part>> _parts;
};

TEST(UndoModelTest, UndoAndRedoOfRandomTransactionsGiveBackEverySavedState) {
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        UndoModel model(seed);
        UndoStack stack;
        std::vector<std::string> states{model.Saved()};
        for (int round = 0; round < 30; ++round) {
            std::string const before = model.Saved();
            bool const keep = model.Pick(4) != 0;
            {
                UndoStack::Transaction outer(stack, "round " + std::to_string(round));
                std::size_t const edits = model.Pick(6);
                for (std::size_t i = 0; i < edits; ++i) {
                    if (model.Pick(5) == 0) {
                        UndoStack::Transaction inner(stack, "inner");
                        model.Edit();
                        if (model.Pick(2) == 0) {
                            inner.Commit();
                        }
                    } else {
                        model.Edit();
                    }
                }
                if (keep) {
                    outer.Commit();
                }
            }
            if (!keep) {
                ASSERT_EQ(model.Saved(), before) << "a transaction without Commit rolls back";
            } else if (stack.UndoText() == "round " + std::to_string(round)) {
                states.push_back(model.Saved());
            } else {
                ASSERT_EQ(model.Saved(), before) << "a transaction that recorded nothing adds nothing";
            }
        }
        for (std::size_t i = states.size() - 1; i > 0; --i) {
            ASSERT_TRUE(stack.Undo());
            ASSERT_EQ(model.Saved(), states[i - 1]) << "undone back to state " << i - 1;
        }
        EXPECT_FALSE(stack.Undo());
        for (std::size_t i = 1; i < states.size(); ++i) {
            ASSERT_TRUE(stack.Redo());
            ASSERT_EQ(model.Saved(), states[i]) << "redone to state " << i;
        }
        EXPECT_FALSE(stack.Redo());
    }
}

}  // namespace
