#ifndef CONSUMER_NODEHEADER_H
#define CONSUMER_NODEHEADER_H

/// The library's node count while a node made in NodeHeader.cpp lives.
int LiveNodesWhileOneLeafLives();

#endif
