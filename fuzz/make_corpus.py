#!/usr/bin/env python3
"""Writes the seed corpus of the operations fuzzer into fuzz/corpus/.

Each file is a short program for the decoder in tests/model/Driver.cpp, four
bytes per operation: first a few nodes, then operations drawn with a bias
towards linking, touching and arming hooks, so that libFuzzer starts from
graphs with diamonds, duplicates and cycles rather than from empty ones.
The opcode weights are read from Driver.cpp, so the files follow the
decoder when its table changes. Deterministic: run it again and nothing
changes.
"""
import os
import random
import re

HERE = os.path.dirname(os.path.abspath(__file__))
DRIVER = os.path.join(HERE, '..', 'tests', 'model', 'Driver.cpp')
FILES = 36


def opcode_ranges():
    text = open(DRIVER).read()
    table = text[text.index('Weighted const kWeights[]'):]
    table = table[:table.index('};')]
    ranges, start = {}, 0
    for name, weight in re.findall(r'\{OpCode::(\w+), (\d+)\}', table):
        ranges[name] = (start, start + int(weight) - 1)
        start += int(weight)
    assert start == 128, 'the opcode table must have 128 entries'
    return ranges


def operation(rng, ranges, name):
    low, high = ranges[name]
    first = rng.randint(low, high) | (0x80 if rng.random() < 0.2 else 0)
    return bytes([first, rng.randrange(256), rng.randrange(256), rng.randrange(256)])


def fixed(ranges, name, a, b, c):
    return bytes([ranges[name][0], a, b, c])


# A few programs written out: chain, diamond, a cycle and duplicate entries,
# and a dependent whose hook drops the last owner of the node being touched
# (C0 C1 C2, 1 depends on 0, 2 on 1, 1's hook releases 0, touch 0), or whose
# property is being set.
def written(ranges):
    create = [fixed(ranges, 'Create', slot, 0, 2) for slot in range(4)]
    insert = lambda owner, dependent: fixed(ranges, 'Insert', owner, dependent, 1)
    touch = lambda slot: fixed(ranges, 'Touch', slot, 0, 0)
    return {
        'chain': b''.join(create[:3]) + insert(0, 1) + insert(1, 2) + touch(0),
        'diamond': b''.join(create) + insert(0, 1) + insert(0, 2) + insert(1, 3) + insert(2, 3) + touch(0),
        'cycle': b''.join(create[:3]) + insert(0, 1) + insert(1, 2) + insert(2, 1) + insert(2, 2) + touch(0) +
                 fixed(ranges, 'CycleQuery', 0, 0, 0),
        'duplicates': b''.join(create[:2]) + insert(0, 1) + insert(0, 1) + insert(0, 0) + touch(0) +
                      fixed(ranges, 'Remove', 0, 1, 1) + fixed(ranges, 'Remove', 1, 0, 1),
        'root-release': b''.join(create[:3]) + insert(0, 1) + insert(1, 2) +
                        fixed(ranges, 'Arm', 1, 0, 7) + touch(0),
        'property-root-release': b''.join(create[:3]) + insert(0, 1) + insert(1, 2) +
                                 fixed(ranges, 'Arm', 1, 0, 7) + fixed(ranges, 'SetProperty', 0, 5, 0),
    }


def main():
    ranges = opcode_ranges()
    favoured = ['Insert', 'Insert', 'Touch', 'Arm', 'SetProperty', 'Release', 'Remove', 'Clone']
    target = os.path.join(HERE, 'corpus')
    os.makedirs(target, exist_ok=True)
    for index in range(FILES):
        rng = random.Random(index)
        program = b''.join(operation(rng, ranges, 'Create') for _ in range(rng.randint(3, 8)))
        for _ in range(rng.randint(6, 40)):
            if rng.random() < 0.6:
                program += operation(rng, ranges, rng.choice(favoured))
            else:
                program += bytes(rng.randrange(256) for _ in range(4))
        with open(os.path.join(target, 'seed-%02d' % index), 'wb') as out:
            out.write(program)
    for name, program in written(ranges).items():
        with open(os.path.join(target, name), 'wb') as out:
            out.write(program)


if __name__ == '__main__':
    main()
