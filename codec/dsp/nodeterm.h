#ifndef NODETERM_H
#define NODETERM_H

// One term of the inverse transform along one axis: the weight of a node
// and the node's index (component row or column).
struct NodeTerm
{
    float weight;
    int node;
};

#endif // NODETERM_H
