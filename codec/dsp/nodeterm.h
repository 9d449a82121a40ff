#ifndef NODETERM_H
#define NODETERM_H

namespace veltrano {

// One term of the inverse transform along one axis: the weight of a node
// and the node's index (component row or column).
struct NodeTerm
{
    float weight;
    int node;
};

} // namespace veltrano

#endif // NODETERM_H
