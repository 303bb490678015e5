#include "json/JsonValue.h"

#include "json/JsonPool.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace qarvia::json {

namespace {

// The ordinal comparison, kept inline in the tree's descents.
[[gnu::always_inline]] inline int compareOrdinal(std::u16string_view a, std::u16string_view b) noexcept {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    size_t i = 0;
    // Four units at a time while they agree; a zero unit among agreeing units ends both texts equal.
    for (; i + 4 <= n; i += 4) {
        uint64_t x, y;
        std::memcpy(&x, a.data() + i, sizeof x);
        std::memcpy(&y, b.data() + i, sizeof y);
        if (x != y) {
            // Straight to the first unit that differs, unless a zero unit comes before it (the loop below
            // then finds the end of the text).
            const size_t k = i + (size_t(__builtin_ctzll(x ^ y)) >> 4);
            const uint64_t zeros = (x - 0x0001000100010001u) & ~x & 0x8000800080008000u;
            if (zeros == 0 || (size_t(__builtin_ctzll(zeros)) >> 4) > k - i)
                return int(unsigned(a[k])) - int(unsigned(b[k]));
            break;
        }
        if ((x - 0x0001000100010001u) & ~x & 0x8000800080008000u)
            return 0;
    }
    for (; i < n; ++i) {
        const unsigned x = a[i], y = b[i];
        if (x != y)
            return int(x) - int(y);
        if (x == 0)
            return 0;
    }
    // One text ended: it compares as if followed by its terminating zero.
    const unsigned x = n < a.size() ? a[n] : 0;
    const unsigned y = n < b.size() ? b[n] : 0;
    return int(x) - int(y);
}

// Ordering of two names. The hash step is a constant 0 for every name, so it never decides; names are
// compared in place.
inline int compareNames(std::u16string_view a, std::u16string_view b) noexcept {
    return compareOrdinal(a, b);
}

} // namespace

int CompareOrdinal(std::u16string_view a, std::u16string_view b) noexcept {
    return compareOrdinal(a, b);
}

// --- Nodes ---------------------------------------------------------------------------------------------

TJsonAvlEntry* TJsonAvlEntry::Create(std::u16string_view name, TJsonValue* value) {
    void* mem = pool::allocate(sizeof(TJsonAvlEntry) + name.size() * sizeof(char16_t));
    auto* node = new (mem) TJsonAvlEntry;
    node->NameLength = static_cast<uint32_t>(name.size());
    node->Value = value;
    node->Hash = HashOf(name);
    if (!name.empty())
        std::memcpy(static_cast<void*>(node + 1), name.data(), name.size() * sizeof(char16_t));
    return node;
}

void TJsonAvlEntry::Free(TJsonAvlEntry* node) noexcept {
    const size_t size = sizeof(TJsonAvlEntry) + node->NameLength * sizeof(char16_t);
    node->~TJsonAvlEntry();
    pool::release(node, size);
}

// --- Member table --------------------------------------------------------------------------------------

void TJsonMemberTable::dropNode(TJsonAvlEntry* node, bool all) {
    if (TJsonValue* v = node->Value) {
        node->Value = nullptr;
        if (all)
            IJsonValue(v).Empty(true);
        v->ReleaseMember();
    }
    TJsonAvlEntry::Free(node);
}

TJsonAvlEntry* TJsonMemberTable::Find(std::u16string_view name, uint8_t relation) const {
    TJsonAvlEntry* node = root_;
    TJsonAvlEntry* remembered = nullptr;
    while (node) {
        const int c = compareNames(name, node->Name());
        if (c == 0) {
            if (relation & frEqual)
                return node;
            // Continue towards the side asked for.
            if (relation & frLess)
                node = node->Less;
            else
                node = node->Greater;
        } else if (c < 0) {
            if (relation & frGreater)
                remembered = node;
            node = node->Less;
        } else {
            if (relation & frLess)
                remembered = node;
            node = node->Greater;
        }
    }
    return remembered;
}

TJsonAvlEntry* TJsonMemberTable::rebalance(TJsonAvlEntry* node) {
    if (node->Balance < 0) {
        TJsonAvlEntry* child = node->Less;
        if (child->Balance <= 0) {
            // Single right rotation.
            node->Less = child->Greater;
            child->Greater = node;
            if (child->Balance == -1) {
                node->Balance = 0;
                child->Balance = 0;
            } else {
                node->Balance = -1;
                child->Balance = 1;
            }
            return child;
        }
        // Double rotation through the child's right child.
        TJsonAvlEntry* top = child->Greater;
        child->Greater = top->Less;
        top->Less = child;
        node->Less = top->Greater;
        top->Greater = node;
        node->Balance = top->Balance == -1 ? 1 : 0;
        child->Balance = top->Balance == 1 ? -1 : 0;
        top->Balance = 0;
        return top;
    }
    TJsonAvlEntry* child = node->Greater;
    if (child->Balance >= 0) {
        node->Greater = child->Less;
        child->Less = node;
        if (child->Balance == 1) {
            node->Balance = 0;
            child->Balance = 0;
        } else {
            node->Balance = 1;
            child->Balance = -1;
        }
        return child;
    }
    TJsonAvlEntry* top = child->Less;
    child->Less = top->Greater;
    top->Greater = child;
    node->Greater = top->Less;
    top->Less = node;
    node->Balance = top->Balance == 1 ? -1 : 0;
    child->Balance = top->Balance == -1 ? 1 : 0;
    top->Balance = 0;
    return top;
}

TJsonAvlEntry* TJsonMemberTable::AddNode(TJsonAvlEntry* h) {
    ++count_;
    h->Less = h->Greater = nullptr;
    h->Balance = 0;
    if (!root_) {
        root_ = h;
        return h;
    }
    // Descend, remembering the deepest node with a non-zero balance (the rebalancing point) and its parent,
    // and the direction of every step below it.
    TJsonAvlEntry* point = root_;
    TJsonAvlEntry* pointParent = nullptr;
    TJsonAvlEntry* parent = nullptr;
    TJsonAvlEntry* node = root_;
    int8_t steps[MaxDepth];
    int depth = 0, pointDepth = 0;
    const std::u16string_view name = h->Name();
    while (node) {
        const int c = compareNames(name, node->Name());
        if (c == 0) {
            // Same name: the existing node takes the new value, the new node leaves with the old one.
            std::swap(node->Value, h->Value);
            dropNode(h, false);
            --count_;
            return node;
        }
        if (node->Balance != 0) {
            point = node;
            pointParent = parent;
            pointDepth = depth;
        }
        if (depth < MaxDepth)
            steps[depth++] = c < 0 ? -1 : 1;
        parent = node;
        node = c < 0 ? node->Less : node->Greater;
    }
    if (steps[depth - 1] < 0)
        parent->Less = h;
    else
        parent->Greater = h;
    // Adjust balances from the rebalancing point down to the new leaf.
    int k = pointDepth;
    for (TJsonAvlEntry* p = point; p != h; ++k) {
        p->Balance += steps[k];
        p = steps[k] < 0 ? p->Less : p->Greater;
    }
    if (point->Balance == -2 || point->Balance == 2) {
        TJsonAvlEntry* top = rebalance(point);
        if (!pointParent)
            root_ = top;
        else if (pointParent->Less == point)
            pointParent->Less = top;
        else
            pointParent->Greater = top;
    }
    return h;
}

IJsonValue TJsonMemberTable::Lookup(std::u16string_view name) const {
    const TJsonAvlEntry* node = Find(name, frEqual);
    return node ? IJsonValue(node->Value) : IJsonValue();
}

void TJsonMemberTable::Store(std::u16string_view name, const IJsonValue& value) {
    TJsonValue* v = value.Get();
    if (v)
        v->AddRef();
    StoreOwned(name, v);
}

void TJsonMemberTable::StoreOwned(std::u16string_view name, TJsonValue* owned) {
    TJsonAvlEntry* node = TJsonAvlEntry::Create(name, owned);
    AddNode(node);
}

IJsonValue TJsonMemberTable::Extract(std::u16string_view name) {
    // Descend recording the path; each entry is a node and the side taken from it (-1 less, +1 greater).
    TJsonAvlEntry* path[MaxDepth];
    int side[MaxDepth];
    int depth = 0;
    TJsonAvlEntry* node = root_;
    while (node) {
        const int c = compareNames(name, node->Name());
        if (c == 0)
            break;
        if (depth >= MaxDepth)
            return {};
        path[depth] = node;
        side[depth] = c < 0 ? -1 : 1;
        ++depth;
        node = c < 0 ? node->Less : node->Greater;
    }
    if (!node)
        return {};
    TJsonAvlEntry* const found = node;
    const int foundDepth = depth;
    TJsonAvlEntry* replacement = nullptr;
    if (found->Less && found->Greater) {
        // Replace by the in-order neighbour on the heavier side.
        const int dir = found->Balance < 0 ? -1 : 1;
        if (depth >= MaxDepth)
            return {};
        path[depth] = found; // placeholder, becomes the replacement below
        side[depth] = dir;
        ++depth;
        TJsonAvlEntry* n = dir < 0 ? found->Less : found->Greater;
        while (dir < 0 ? n->Greater : n->Less) {
            if (depth >= MaxDepth)
                return {};
            path[depth] = n;
            side[depth] = -dir;
            ++depth;
            n = dir < 0 ? n->Greater : n->Less;
        }
        replacement = n;
        // Unlink the neighbour from its parent, hanging its only child in its place.
        TJsonAvlEntry* child = dir < 0 ? n->Less : n->Greater;
        TJsonAvlEntry* parent = path[depth - 1];
        if (parent == found) {
            if (dir < 0)
                found->Less = child;
            else
                found->Greater = child;
        } else if (side[depth - 1] < 0) {
            parent->Less = child;
        } else {
            parent->Greater = child;
        }
        // The neighbour takes over the removed node's place, children and balance.
        n->Less = found->Less;
        n->Greater = found->Greater;
        n->Balance = found->Balance;
        path[foundDepth] = n;
    } else {
        replacement = found->Less ? found->Less : found->Greater;
    }
    // Hang the replacement where the removed node was.
    if (foundDepth == 0)
        root_ = replacement;
    else if (side[foundDepth - 1] < 0)
        path[foundDepth - 1]->Less = replacement;
    else
        path[foundDepth - 1]->Greater = replacement;

    // Walk back up: the subtree on side[k] of path[k] got one shorter.
    for (int k = depth - 1; k >= 0; --k) {
        TJsonAvlEntry* p = path[k];
        p->Balance -= side[k];
        TJsonAvlEntry* top = p;
        bool heightUnchanged = false;
        if (p->Balance == -2 || p->Balance == 2) {
            const TJsonAvlEntry* heavy = p->Balance < 0 ? p->Less : p->Greater;
            heightUnchanged = heavy->Balance == 0; // a single rotation over an even child keeps the height
            top = rebalance(p);
            if (k == 0)
                root_ = top;
            else if (side[k - 1] < 0)
                path[k - 1]->Less = top;
            else
                path[k - 1]->Greater = top;
        } else if (p->Balance != 0) {
            heightUnchanged = true; // was even, now leaning: height kept
        }
        if (heightUnchanged)
            break;
    }
    --count_;
    TJsonValue* value = found->Value;
    found->Value = nullptr;
    dropNode(found, false);
    return IJsonValue::Adopt(value);
}

void TJsonMemberTable::Empty(bool all) {
    // Release every node in ascending order: an in-order walk that only reads the nodes (a tree being freed
    // is mostly out of the cache; writing to it would cost as much again). An AVL tree of 2^31 nodes is less
    // than 48 levels high, so the walk's stack cannot run out; should it ever, the remaining subtree is
    // rotated into a chain of Greater links instead.
    TJsonAvlEntry* node = root_;
    root_ = nullptr;
    count_ = 0;
    TJsonAvlEntry* stack[MaxDepth];
    int depth = 0;
    for (;;) {
        while (node) {
            if (depth == MaxDepth) {
                if (TJsonAvlEntry* l = node->Less) {
                    node->Less = l->Greater;
                    l->Greater = node;
                    node = l;
                    continue;
                }
                break;
            }
            // The node's value and its Greater side are needed later: start loading them now.
            __builtin_prefetch(node->Value);
            __builtin_prefetch(node->Greater);
            stack[depth++] = node;
            node = node->Less;
        }
        // Still a node here: the stack is full and it has no Less side; release it at once.
        if (!node) {
            if (depth == 0)
                break;
            node = stack[--depth];
        }
        TJsonAvlEntry* next = node->Greater;
        dropNode(node, all);
        node = next;
    }
}

void TJsonMemberTable::Compact(bool all) {
    // Collect the names of empty members first; removal rebalances the tree under a running walk.
    std::vector<std::u16string> emptyNames;
    TJsonAvlIterator it(this);
    for (bool more = it.First(); more; more = it.Next()) {
        TJsonAvlEntry* n = it.Current();
        if (!n->Value)
            emptyNames.emplace_back(n->Name());
        else if (all)
            IJsonValue(n->Value).Compact(true);
    }
    for (const auto& name : emptyNames)
        Extract(name);
}

// --- Iteration -----------------------------------------------------------------------------------------

TJsonAvlIterator::TJsonAvlIterator(const TJsonMemberTable* table) : tree_(table) {}

void TJsonAvlIterator::descendLeft(TJsonAvlEntry* node) {
    while (node && depth_ + 1 < TJsonMemberTable::MaxDepth) {
        path_[++depth_] = node;
        node = node->Less;
    }
}

bool TJsonAvlIterator::First() {
    depth_ = -1;
    if (tree_)
        descendLeft(tree_->Root());
    return depth_ >= 0;
}

bool TJsonAvlIterator::Next() {
    if (depth_ < 0)
        return false;
    TJsonAvlEntry* node = path_[depth_--];
    descendLeft(node->Greater);
    return depth_ >= 0;
}

bool FirstMember(const IJsonValue& v, TJsonMemberIter& iter) {
    if (!IsKind(v, skObject))
        return false;
    delete iter.Cursor;
    iter.Cursor = new TJsonAvlIterator(v.ToObject());
    if (!iter.Cursor->First())
        return false;
    iter.Key.assign(iter.Cursor->Current()->Name());
    iter.Val = IJsonValue(iter.Cursor->Current()->Value);
    return true;
}

bool NextMember(TJsonMemberIter& iter) {
    if (!iter.Cursor || !iter.Cursor->Next())
        return false;
    iter.Key.assign(iter.Cursor->Current()->Name());
    iter.Val = IJsonValue(iter.Cursor->Current()->Value);
    return true;
}

void CloseMembers(TJsonMemberIter& iter) {
    delete iter.Cursor;
    iter.Cursor = nullptr;
    iter.Val.Reset();
}

TJsonEnumerator::TJsonEnumerator(const IJsonValue& value) : value_(value), cursor_(value.ToObject()) {}

bool TJsonEnumerator::MoveNext() {
    if (TJsonArray* a = value_.ToArray()) {
        if (position_ + 1 >= a->ItemCount())
            return false;
        ++position_;
        return true;
    }
    if (value_.ToObject()) {
        const bool more = position_ < 0 ? cursor_.First() : cursor_.Next();
        if (more)
            ++position_;
        return more;
    }
    return false;
}

std::u16string_view TJsonEnumerator::Name() const noexcept {
    if (value_.ToObject() && position_ >= 0 && cursor_.Current())
        return cursor_.Current()->Name();
    return {};
}

IJsonValue TJsonEnumerator::Current() const {
    if (TJsonArray* a = value_.ToArray())
        return a->ItemAt(position_);
    if (value_.ToObject() && position_ >= 0 && cursor_.Current())
        return IJsonValue(cursor_.Current()->Value);
    return {};
}

TJsonEnumerator IJsonValue::Enumerate() const {
    return TJsonEnumerator(*this);
}

} // namespace qarvia::json
