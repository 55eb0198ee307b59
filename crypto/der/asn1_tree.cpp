// Element tree: node creation, linking and release.
#include "crypto/der/asn1.h"

#include <new>

MSTATUS ASN1_createElement(Asn1Element **element)
{
    if (!element)
        return ERR_NULL_POINTER;
    *element = new (std::nothrow) Asn1Element{};
    return *element ? OK : ERR_MEM_ALLOC;
}

MSTATUS ASN1_appendChild(Asn1Element *parent, Asn1Element *child)
{
    if (!parent || !child)
        return ERR_NULL_POINTER;
    if (child->parent || child->nextSibling)
        return ERR_TREE_LINK;
    // Linking a node below itself would make a cycle that release would never leave.
    for (const Asn1Element *up = parent; up; up = up->parent) {
        if (up == child)
            return ERR_TREE_LINK;
    }
    child->parent = parent;
    if (parent->lastChild)
        parent->lastChild->nextSibling = child;
    else
        parent->firstChild = child;
    parent->lastChild = child;
    return OK;
}

// Post-order walk without recursion: a tree linked by hand may be deeper than the stack.
// The walk always descends to the first child, so the node being freed is always its
// parent's first child and unlinking it is one store.
MSTATUS ASN1_releaseElement(Asn1Element **element)
{
    if (!element)
        return ERR_NULL_POINTER;
    Asn1Element *top = *element;
    if (!top)
        return OK;
    if (top->parent || top->nextSibling)
        return ERR_TREE_LINK;
    Asn1Element *node = top;
    while (node) {
        if (node->firstChild) {
            node = node->firstChild;
            continue;
        }
        Asn1Element *parent = node == top ? nullptr : node->parent;
        if (parent) {
            parent->firstChild = node->nextSibling;
            if (!parent->firstChild)
                parent->lastChild = nullptr;
        }
        if (node->releaseHook)
            node->releaseHook(node);
        delete node;
        node = parent;
    }
    *element = nullptr;
    return OK;
}

MSTATUS ASN1_freeTree(Asn1Element **root)
{
    return ASN1_releaseElement(root);
}
