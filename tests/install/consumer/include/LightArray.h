// The client's own header, named like one of the library's. Should a library
// header reach this one instead of its own, the consumer does not compile.
#ifndef CONSUMER_LIGHTARRAY_H
#define CONSUMER_LIGHTARRAY_H

namespace consumer {

struct LightArray {
    int size = 0;
};

}  // namespace consumer

#endif
