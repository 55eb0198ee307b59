// Element tree: link refusals, release order and release of trees of any depth.
#include "crypto/der/asn1.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint32_t> g_released;

void recordRelease(Asn1Element *e)
{
    EXPECT_EQ(nullptr, e->firstChild); // children are gone before the hook runs
    g_released.push_back(e->tag);
}

Asn1Element *make(uint32_t tag)
{
    Asn1Element *e = nullptr;
    EXPECT_EQ(OK, ASN1_createElement(&e));
    e->tag = tag;
    e->releaseHook = recordRelease;
    return e;
}

TEST(Asn1Tree, NewNodesAreZeroed)
{
    Asn1Element *e = nullptr;
    ASSERT_EQ(OK, ASN1_createElement(&e));
    EXPECT_EQ(nullptr, e->parent);
    EXPECT_EQ(nullptr, e->firstChild);
    EXPECT_EQ(nullptr, e->nextSibling);
    EXPECT_EQ(nullptr, e->releaseHook);
    EXPECT_EQ(0u, e->length);
    EXPECT_EQ(0, e->contentOffset);
    EXPECT_EQ(OK, ASN1_releaseElement(&e));
    EXPECT_EQ(nullptr, e);
}

// Appends keep their order; each refused link or release must leave the tree as it was.
TEST(Asn1Tree, LinksAndReleasesThatAreRefused)
{
    Asn1Element *root = make(100);
    Asn1Element *a = make(1), *b = make(2), *grandchild = make(11);
    ASSERT_EQ(OK, ASN1_appendChild(root, a));
    ASSERT_EQ(OK, ASN1_appendChild(root, b));
    ASSERT_EQ(OK, ASN1_appendChild(a, grandchild));

    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(b, a));          // a has a parent (and a sibling)
    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(a, grandchild)); // already linked
    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(grandchild, root)); // root below its grandchild
    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(root, root));
    Asn1Element *linked = a;
    EXPECT_EQ(ERR_TREE_LINK, ASN1_releaseElement(&linked));    // still has a parent
    EXPECT_EQ(a, linked);
    linked = grandchild;
    EXPECT_EQ(ERR_TREE_LINK, ASN1_releaseElement(&linked));

    // A node with a sibling but no parent (unlinked by hand) is refused too.
    Asn1Element *loose = make(7), *other = make(8);
    loose->nextSibling = other;
    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(root, loose));
    EXPECT_EQ(ERR_TREE_LINK, ASN1_releaseElement(&loose));
    loose->nextSibling = nullptr;

    EXPECT_EQ(a, root->firstChild);
    EXPECT_EQ(b, a->nextSibling);
    EXPECT_EQ(nullptr, b->nextSibling);
    EXPECT_EQ(b, root->lastChild);
    EXPECT_EQ(root, b->parent);
    EXPECT_EQ(grandchild, a->firstChild);

    g_released.clear();
    EXPECT_EQ(OK, ASN1_freeTree(&root));
    EXPECT_EQ((std::vector<uint32_t>{11, 1, 2, 100}), g_released); // children first, in order
    EXPECT_EQ(nullptr, root);
    EXPECT_EQ(OK, ASN1_releaseElement(&loose));
    EXPECT_EQ(OK, ASN1_releaseElement(&other));
}

TEST(Asn1Tree, NullArguments)
{
    Asn1Element *e = make(1);
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_createElement(nullptr));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_appendChild(nullptr, e));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_appendChild(e, nullptr));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_releaseElement(nullptr));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_freeTree(nullptr));
    Asn1Element *none = nullptr;
    EXPECT_EQ(OK, ASN1_freeTree(&none));
    EXPECT_EQ(OK, ASN1_releaseElement(&e));
}

// Release must not recurse per level: 200000 levels, linked field by field (the link
// call walks up to refuse cycles, which would make building this chain quadratic).
TEST(Asn1Tree, ReleasesVeryDeepTrees)
{
    Asn1Element *root = make(0);
    Asn1Element *at = root;
    for (int i = 0; i < 200000; ++i) {
        Asn1Element *child = make(1);
        child->parent = at;
        at->firstChild = at->lastChild = child;
        at = child;
    }
    ASSERT_EQ(OK, ASN1_appendChild(at, make(2)));
    ASSERT_EQ(OK, ASN1_appendChild(at, make(3)));
    g_released.clear();
    EXPECT_EQ(OK, ASN1_freeTree(&root));
    ASSERT_EQ(200003u, g_released.size());
    EXPECT_EQ(2u, g_released[0]);
    EXPECT_EQ(3u, g_released[1]);
    EXPECT_EQ(0u, g_released.back());
}

} // namespace
