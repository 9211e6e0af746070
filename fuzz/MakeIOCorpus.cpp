// Writes the seed corpus of the IO fuzzer: documents saved from small
// models of the IO tests' classes (tests/io/IOModel.h). Deterministic.
//
//   build-fuzz/fuzz/make_io_corpus fuzz/io-corpus
#include "IOModel.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using namespace qeliotest;

namespace {

void Write(std::string const& p_dir, std::string const& p_name, std::string const& p_text) {
    std::ofstream out(p_dir + "/" + p_name + ".json", std::ios::binary);
    out << p_text;
}

std::vector<Ptr<Plain>> Plains(int p_count) {
    std::vector<Ptr<Plain>> nodes;
    for (int index = 0; index < p_count; ++index) {
        nodes.push_back(Named<Plain>("p" + std::to_string(index)));
        nodes.back()->_x.Set(index * 0.5);
    }
    return nodes;
}

}  // namespace

int main(int p_argc, char** p_argv) {
    if (p_argc != 2) {
        std::cerr << "usage: make_io_corpus <directory>\n";
        return 2;
    }
    std::string const dir = p_argv[1];
    {
        Sample const sample = MakeSample();
        Write(dir, "sample", IO::Save(sample._roots));
        Write(dir, "sample-first-root", IO::Save({sample._roots[0]}));
        Write(dir, "sample-shared", IO::Save({sample._owners[0]}));
    }
    {
        std::vector<Ptr<Plain>> const chain = Plains(6);
        for (std::size_t index = 0; index + 1 < chain.size(); ++index) {
            chain[index]->_next.Attach(chain[index + 1]);
            chain[index]->Deps().Insert(*chain[index + 1]);
        }
        Write(dir, "chain", IO::Save({chain.front()}));
        chain.back()->Deps().Insert(*chain.front());  // now a ring
        Write(dir, "ring", IO::Save({chain[2], chain[4]}));
    }
    {
        Ptr<Everything> const odd = Named<Everything>("odd");
        odd->_float.Set(std::nanf(""));
        odd->_double.Set(-INFINITY);
        odd->_string.Set("");
        odd->_colour.Set(Colour{0, 0, 0});
        Accessors::NodeAccess(odd).SetUserTag(0);
        odd->_many.Attach(odd);
        Write(dir, "odd-values", IO::Save({odd}));
    }
    {
        // Two roots in one list; two nodes that point at each other with
        // one of the links they make taken back.
        std::vector<Ptr<Plain>> const roots = Plains(2);
        Ptr<Everything> const holder = Named<Everything>("holder");
        holder->_many.Attach(roots[0]);
        holder->_many.Attach(roots[1]);
        roots[0]->_next.Attach(holder);
        Write(dir, "two-roots-one-list", IO::Save({roots[0], roots[1]}));
        Ptr<Mutual> const x = Named<Mutual>("x"), y = Named<Mutual>("y");
        x->_other.Attach(y);
        x->StopDependingOn(*y);
        y->_other.Attach(x);
        x->_plains.Attach(roots[0]);
        y->_plains.Attach(roots[0]);
        Write(dir, "mutual", IO::Save({x}));
    }
    Write(dir, "empty", IO::Save({}));
    return 0;
}
