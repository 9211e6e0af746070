// Nodes held by a thread_local and a static Ptr, and released by an atexit
// handler, end after the library's per-thread state was torn down: they are
// still touched, walked and deleted (with nested deletions deep enough to be
// queued), call their subscribers, and at the very end no node and no
// tracked block is left. A static's destructor still finds property names.
#include <QelChartCore.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace Qel::Chart::Core;

namespace {

// Owns the next node of a chain; touches it (and so walks its dependents) when it ends.
// Its subscription to the next node outlives that node: `next` goes first.
struct Link : Node {
    Subscription onNext;
    Ptr<Link> next;
    ~Link() override {
        if (next) {
            next->Touch();
        }
    }
};

// A node owning a chain deeper than the nested deletions that run inline,
// with dependents that its touches walk.
Ptr<Link> MakeModel() {
    Ptr<Link> head = Node::Create<Link>();
    Link* last = head.Get();
    for (int i = 0; i < 300; ++i) {
        Ptr<Link> next = Node::Create<Link>();
        last->Deps().Insert(*next);  // weak: the walk reaches it, ownership keeps it
        Link* raw = next.Get();
        last->onNext = next->OnTouched([raw](TouchEvent const& p_event) {
            if (p_event.relationship == IModifiable::Self && raw->Time().Counter() == 0) {
                std::_Exit(2);  // called before the stamp advanced
            }
        });
        last->next = next;
        last = raw;
    }
    return head;
}

// Exercises the walk, the deletion queue and the owner-block cache, so that
// their per-thread state exists and is torn down before the models below.
void UsePerThreadState() {
    Ptr<Link> model = MakeModel();
    model->Touch();
}

thread_local Ptr<Link> t_theme;  // constructed before the library's per-thread state
Ptr<Link> g_released;            // released by an atexit handler

void CheckNothingLeft() {
    if (Node::_debugNodeCount.load() != 0 || qeldebug::allocationtracker::blocks_in_use() != 0) {
        std::fprintf(stderr, "left behind: %d nodes, %zu blocks\n", Node::_debugNodeCount.load(),
                     qeldebug::allocationtracker::blocks_in_use());
        std::_Exit(1);
    }
    std::puts("teardown: nothing left");
}

void ReleaseAtExit() { g_released = Ptr<Link>(); }

// Made before the name cache is first used, ended after main: a name
// interned in main is still found by its destructor.
struct NameAtExit {
    unsigned short id = 0;
    ~NameAtExit() {
        using Cache = Private::PropertyMetaData::PropertyNameCache;
        if (Cache::FindName(id).ToString() != "teardown width" ||
            Cache::GenerateId(Qel::Chart::Utility::LightString_Base<char>(std::string("teardown width"))) != id) {
            std::_Exit(3);
        }
    }
} g_nameAtExit;

}  // namespace

int main() {
    std::atexit(CheckNothingLeft);  // runs last: after the static below has ended
    g_nameAtExit.id = Private::PropertyMetaData::PropertyNameCache::GenerateId(
        Qel::Chart::Utility::LightString_Base<char>(std::string("teardown width")));
    static Ptr<Link> s_style = MakeModel();
    g_released = MakeModel();
    std::atexit(ReleaseAtExit);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([] {
            t_theme = MakeModel();
            UsePerThreadState();
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    t_theme = MakeModel();  // the main thread's, ended at exit
    UsePerThreadState();
    s_style->Touch();
    return 0;
}
