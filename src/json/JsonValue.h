#pragma once

// The JSON value model: reference-counted values of nine kinds, the member table (an AVL tree keyed by
// member name in ordinal order) and the sparse array.
//
// What the rest of the program uses (declared here and in JsonParser.h):
//   IJsonValue doc = ParseText(text);                       // lenient reader, JsonParser.h
//   IJsonValue total = doc.ValueAt(u"result.total_count");  // path access; empty when missing
//   std::u16string s = total.ToText();                      // "23"; empty text for an empty reference
//   TJsonArray* roles = doc.ArrayAt(u"result.roles");       // not counted: valid while doc holds it
//   for (int32_t i = 0; roles && i < roles->ItemCount(); ++i)
//       roles->ItemAt(i).TextAt(u"id");
//
// All text is UTF-16 (char16_t). Names and strings are compared code unit by code unit as unsigned numbers,
// with no normalisation; a zero unit ends a text wherever raw text is compared.
//
// An IJsonValue is a counted reference and may be empty. Every operation on an empty reference is safe and
// gives the empty result (no value, empty text, 0, false); where a kind is asked, it counts as skNull.

#include "json/JsonPool.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qarvia::json {

enum TJsonKind : uint8_t {
    skNull = 0,
    skBoolean = 1,
    skDouble = 2,
    skCurrency = 3, // signed 64-bit integer holding the number times 10 000
    skInteger = 4,
    skObject = 5,
    skArray = 6,
    skString = 7,
    skMethod = 8,
};

// Results of CompareValue / CompareText.
enum TJsonCompareResult : uint8_t {
    crLess = 0,
    crEqual = 1,
    crGreater = 2,
    crNotComparable = 3,
};

// Path run settings (see JsonPath.cpp).
enum TJsonPathOption : uint8_t {
    poCreatePath = 1,
    poPutValue = 2,
    poDelete = 4,
    poCallMethod = 8,
};
using TJsonPathOptions = uint8_t;

// Currency values carry their number times 10 000; this wrapper keeps them apart from plain integers.
struct TJsonCurrency {
    int64_t Scaled = 0;
};

class IJsonValue;
class TJsonValue;
class TJsonArray;
class TJsonMemberTable;
class TJsonWriter;
class TJsonStream;
class TJsonEnumerator;

// A method value's callback: (the value the method was found in, the parameter, the result slot to fill).
using TJsonMethod = std::function<void(const IJsonValue& self, const IJsonValue& param, IJsonValue& result)>;

// Text of a string value: one pointer to a pooled block holding the length and the units (no block for
// empty text), so that a value record stays at 32 bytes.
class TJsonText {
public:
    TJsonText() noexcept = default;
    ~TJsonText() { clear(); }
    TJsonText(const TJsonText&) = delete;
    TJsonText& operator=(const TJsonText&) = delete;

    size_t size() const noexcept { return block_ ? block_->length : 0; }
    bool empty() const noexcept { return !block_; }
    const char16_t* data() const noexcept { return block_ ? reinterpret_cast<const char16_t*>(block_ + 1) : u""; }
    operator std::u16string_view() const noexcept { return {data(), size()}; }
    void clear() noexcept;
    void assign(const char16_t* text, size_t length);
    void assign(std::u16string_view text) { assign(text.data(), text.size()); }

private:
    struct Block {
        size_t length; // followed by the units
    };
    Block* block_ = nullptr;
};

// Raised when a value that is still referenced is destroyed; the message is "Invalid pointer".
class EJsonInvalidPointer : public std::logic_error {
public:
    EJsonInvalidPointer() : std::logic_error("Invalid pointer") {}
};

// Rule-check failure callback (Validate): sender, error code, path of the failing value.
enum TJsonValidateError : uint8_t;
using TJsonValidateCallback = std::function<void(void* sender, TJsonValidateError code, const std::u16string& path)>;

// The value record. Create values through the From* factories, which hand back a counted reference.
class TJsonValue final {
public:
    static IJsonValue FromKind(TJsonKind kind);
    static IJsonValue FromBoolean(bool value);
    static IJsonValue FromInteger(int64_t value);
    static IJsonValue FromDouble(double value);
    static IJsonValue FromCurrency(TJsonCurrency value);
    static IJsonValue FromText(std::u16string_view text);
    static IJsonValue FromMethod(TJsonMethod method);

    // Frees a value explicitly. Refused with EJsonInvalidPointer ("Invalid pointer") while the value is
    // still referenced; the value is then left untouched.
    static void Destroy(TJsonValue* value);

    TJsonValue(const TJsonValue&) = delete;
    TJsonValue& operator=(const TJsonValue&) = delete;

    int32_t GetRefCount() const noexcept { return RefCount.load(std::memory_order_relaxed); }
    void AddRef() noexcept { RefCount.fetch_add(1, std::memory_order_relaxed); }
    void Release() noexcept {
        // The sole holder cannot race with anyone adding a reference, so it may skip the atomic update.
        if (RefCount.load(std::memory_order_acquire) == 1 || RefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            RefCount.store(0, std::memory_order_relaxed);
            destroyUnchecked(this);
        }
    }
    // Release for the holders that free trees (arrays, member tables): a value without a container or
    // callback whose last reference this is goes straight back to the pool, without the destructor's call.
    void ReleaseMember() noexcept {
        if (Kind != skObject && Kind != skArray && Kind != skMethod &&
            RefCount.load(std::memory_order_acquire) == 1) {
            RefCount.store(0, std::memory_order_relaxed);
            Text.clear();
            pool::release(this, sizeof(TJsonValue));
            return;
        }
        Release();
    }

    std::atomic<int32_t> RefCount{0};
    bool Busy = false;
    TJsonKind Kind = skNull;
    void* UserData = nullptr;
    union {
        bool Boolean;
        double Double;
        int64_t Currency;
        int64_t Integer;
        TJsonMemberTable* Object;
        TJsonArray* Array;
        TJsonMethod* Method;
    } Payload{};
    TJsonText Text; // string values only

    // Builders used by the reader: the value starts with one reference owned by the caller.
    static TJsonValue* NewOwned(TJsonKind kind);
    static TJsonValue* NewOwnedInteger(int64_t value);
    static TJsonValue* NewOwnedDouble(double value);
    static TJsonValue* NewOwnedCurrency(int64_t scaled);
    static TJsonValue* NewOwnedBoolean(bool value);
    static TJsonValue* NewOwnedText(const char16_t* text, size_t length);

    static void* operator new(size_t size);
    static void operator delete(void* block, size_t size) noexcept;

private:
    explicit TJsonValue(TJsonKind kind) : Kind(kind) {}
    ~TJsonValue();
    // A value of the kind with its first reference already counted for the caller.
    static TJsonValue* newCounted(TJsonKind kind);
    static void destroyUnchecked(TJsonValue* value) noexcept;
};

// A counted reference to a value, or an empty reference. Copying takes a reference, destruction drops it.
class IJsonValue {
public:
    IJsonValue() noexcept = default;
    // Takes a new reference to value (which may be null).
    explicit IJsonValue(TJsonValue* value) noexcept : v_(value) {
        if (v_)
            v_->AddRef();
    }
    // Wraps a value whose reference the caller already owns.
    static IJsonValue Adopt(TJsonValue* owned) noexcept {
        IJsonValue r;
        r.v_ = owned;
        return r;
    }
    IJsonValue(const IJsonValue& other) noexcept : IJsonValue(other.v_) {}
    IJsonValue(IJsonValue&& other) noexcept : v_(other.v_) { other.v_ = nullptr; }
    IJsonValue& operator=(const IJsonValue& other) noexcept {
        IJsonValue(other).swap(*this);
        return *this;
    }
    IJsonValue& operator=(IJsonValue&& other) noexcept {
        IJsonValue(std::move(other)).swap(*this);
        return *this;
    }
    ~IJsonValue() {
        if (v_)
            v_->Release();
    }
    void swap(IJsonValue& other) noexcept { std::swap(v_, other.v_); }
    // Gives up the reference without releasing it.
    TJsonValue* Detach() noexcept {
        TJsonValue* v = v_;
        v_ = nullptr;
        return v;
    }
    void Reset() noexcept { IJsonValue().swap(*this); }

    explicit operator bool() const noexcept { return v_ != nullptr; }
    bool IsEmpty() const noexcept { return v_ == nullptr; }
    TJsonValue* Get() const noexcept { return v_; }
    bool operator==(const IJsonValue& other) const noexcept { return v_ == other.v_; }

    // Interface operations.
    TJsonEnumerator Enumerate() const;
    TJsonKind GetKind() const noexcept { return v_ ? v_->Kind : skNull; }
    bool GetBusy() const noexcept { return v_ && v_->Busy; }
    void SetBusy(bool busy) const noexcept {
        if (v_)
            v_->Busy = busy;
    }
    bool HasKind(TJsonKind kind) const noexcept { return v_ && v_->Kind == kind; }
    void* GetUserData() const noexcept { return v_ ? v_->UserData : nullptr; }
    void SetUserData(void* data) const noexcept {
        if (v_)
            v_->UserData = data;
    }

    // Path access (JsonPath.cpp). Reads never fail loudly: a missing value gives the empty result.
    IJsonValue EnsurePath(std::u16string_view path, TJsonKind kind) const;
    std::u16string Substitute(std::u16string_view templ, char16_t open, char16_t close) const;
    IJsonValue ValueAt(std::u16string_view path) const;
    void SetValueAt(std::u16string_view path, const IJsonValue& value) const;
    bool BooleanAt(std::u16string_view path) const;
    void SetBooleanAt(std::u16string_view path, bool value) const;
    int64_t IntegerAt(std::u16string_view path) const;
    void SetIntegerAt(std::u16string_view path, int64_t value) const;
    double DoubleAt(std::u16string_view path) const;
    void SetCurrencyAt(std::u16string_view path, TJsonCurrency value) const;
    TJsonCurrency CurrencyAt(std::u16string_view path) const;
    void SetDoubleAt(std::u16string_view path, double value) const;
    std::u16string TextAt(std::u16string_view path) const;
    void SetTextAt(std::u16string_view path, std::u16string_view value) const;
    TJsonMethod MethodAt(std::u16string_view path) const;
    void SetMethodAt(std::u16string_view path, TJsonMethod method) const;
    TJsonArray* ArrayAt(std::u16string_view path) const;
    IJsonValue ValueOrNullAt(std::u16string_view path) const;
    void SetValueOrNullAt(std::u16string_view path, const IJsonValue& value) const;
    IJsonValue Remove(std::u16string_view path) const;
    IJsonValue Invoke(std::u16string_view path, const IJsonValue& param) const;
    IJsonValue InvokeText(std::u16string_view path, std::u16string_view paramText) const;

    // Serialisation (JsonWriter.cpp). The writer cannot fail on a value; sinks can.
    int64_t WriteTo(TJsonWriter& sink, bool indent, bool escape, int level) const;
    int64_t SaveToStream(TJsonStream& stream, bool indent, bool escape) const;
    int64_t SaveToFile(const std::string& fileName, bool indent, bool escape) const;
    int64_t SaveToSocket(int socket, bool indent, bool escape) const;
    int64_t MeasureText(bool indent, bool escape) const;
    std::u16string ToJson(bool indent = false, bool escape = false) const;

    // Conversions; see the table in JsonValue.cpp.
    bool ToBoolean() const;
    int64_t ToInteger() const;
    double ToDouble() const;
    TJsonCurrency ToCurrency() const;
    std::u16string ToText() const;
    TJsonArray* ToArray() const noexcept { return HasKind(skArray) ? v_->Payload.Array : nullptr; }
    TJsonMemberTable* ToObject() const noexcept { return HasKind(skObject) ? v_->Payload.Object : nullptr; }
    TJsonMethod ToMethod() const;

    void Empty(bool all = false) const;
    void Compact(bool all = false) const;
    IJsonValue Copy() const;
    void MergeValue(const IJsonValue& other, bool byReference) const;
    void MergeText(std::u16string_view text) const;
    TJsonCompareResult CompareValue(const IJsonValue& other) const;
    TJsonCompareResult CompareText(std::u16string_view text) const;

    // Rule checking (JsonValidate.h): true when the value meets the rules.
    bool Validate(const IJsonValue& rules, const IJsonValue& defs, const TJsonValidateCallback& callback = {},
                  void* sender = nullptr) const;
    bool ValidateText(std::u16string_view rules, std::u16string_view defs, const TJsonValidateCallback& callback = {},
                      void* sender = nullptr) const;

private:
    TJsonValue* v_ = nullptr;
};

// Kind of a possibly empty reference: the empty reference counts as skNull.
inline TJsonKind KindOf(const IJsonValue& v) noexcept {
    return v.GetKind();
}
inline bool IsKind(const IJsonValue& v, TJsonKind kind) noexcept {
    return v.GetKind() == kind;
}

// Ordinal comparison of two texts, unit by unit as unsigned numbers; a zero unit ends a text.
int CompareOrdinal(std::u16string_view a, std::u16string_view b) noexcept;

// The sparse array: slots may be empty; slots at and beyond ItemCount always are.
class TJsonArray {
public:
    static constexpr int32_t InitialCapacity = 32;

    TJsonArray();
    ~TJsonArray();
    static void* operator new(size_t size);
    static void operator delete(void* block, size_t size) noexcept;
    TJsonArray(const TJsonArray&) = delete;
    TJsonArray& operator=(const TJsonArray&) = delete;

    int32_t ItemCount() const noexcept { return count_; }
    int32_t Capacity() const noexcept { return capacity_; }
    // The item, possibly empty; empty for an index out of range.
    IJsonValue ItemAt(int32_t index) const noexcept {
        return index >= 0 && index < count_ ? IJsonValue(items_[index]) : IJsonValue();
    }
    // Stores v at index (negative indexes are ignored), growing the array; skipped slots stay empty.
    void SetItemAt(int32_t index, const IJsonValue& v);
    int32_t Append(const IJsonValue& v);
    // Removes the item at index and gives it to the caller; empty for an index out of range.
    IJsonValue RemoveAt(int32_t index);
    void Empty(bool all);
    void Compact(bool all);
    void GrowTo(int32_t index);

    // Reader fast path: appends a value whose reference the caller hands over.
    void AppendOwned(TJsonValue* owned) {
        if (count_ >= allocated_) {
            GrowTo(count_);
            reserveSlots(count_);
        }
        items_[count_++] = owned;
    }
    TJsonValue* RawItem(int32_t index) const noexcept { return items_[index]; }

private:
    // Makes slot index exist in memory. Capacity is the array's own rule (32, doubling); the slots behind it
    // are only allocated as they are reached, so the many short arrays of a document stay small.
    void reserveSlots(int32_t index);

    // The first slots live in the array itself: most arrays of a document are short (pairs of coordinates,
    // a few tags), and then need no block of their own.
    static constexpr int32_t OwnSlots = 2;

    TJsonValue** items_ = own_;
    int32_t count_ = 0;
    int32_t capacity_ = InitialCapacity;
    int32_t allocated_ = OwnSlots; // slots in memory, at most capacity_; those at or beyond count_ are empty
    TJsonValue* own_[OwnSlots] = {};
};

// A node of the member table. The name is stored right after the node in the same allocation.
struct TJsonAvlEntry {
    TJsonAvlEntry* Greater = nullptr;
    TJsonAvlEntry* Less = nullptr;
    int32_t Balance = 0;
    uint32_t Hash = 0;
    uint32_t NameLength = 0;
    TJsonValue* Value = nullptr; // a counted reference in a member table, or null

    std::u16string_view Name() const noexcept { return {reinterpret_cast<const char16_t*>(this + 1), NameLength}; }
    // The hash step of the ordering; every name hashes to 0, so names alone decide the order.
    static uint32_t HashOf(std::u16string_view) noexcept { return 0; }

    static TJsonAvlEntry* Create(std::u16string_view name, TJsonValue* value);
    static void Free(TJsonAvlEntry* node) noexcept;
};

enum TJsonFindRelation : uint8_t {
    frEqual = 1,
    frLess = 2,
    frGreater = 4,
};

// The member table: an AVL tree ordered by ordinal member name.
class TJsonMemberTable {
public:
    static constexpr int MaxDepth = 64;

    TJsonMemberTable() = default;
    ~TJsonMemberTable() { Empty(false); }
    static void* operator new(size_t size);
    static void operator delete(void* block, size_t size) noexcept;
    TJsonMemberTable(const TJsonMemberTable&) = delete;
    TJsonMemberTable& operator=(const TJsonMemberTable&) = delete;

    int32_t MemberCount() const noexcept { return count_; }
    TJsonAvlEntry* Root() const noexcept { return root_; }

    IJsonValue Lookup(std::u16string_view name) const;
    // Stores value under name, replacing (and releasing) the value of an existing member of that name.
    void Store(std::u16string_view name, const IJsonValue& value);
    // Reader fast path: stores a value whose reference the caller hands over.
    void StoreOwned(std::u16string_view name, TJsonValue* owned);
    // Unlinks the member and gives its value to the caller; empty when there is no such member.
    IJsonValue Extract(std::u16string_view name);
    void Empty(bool all);
    void Compact(bool all);

    // Node of that name (frEqual), or the nearest below (frLess) / above (frGreater) as asked.
    TJsonAvlEntry* Find(std::u16string_view name, uint8_t relation) const;
    // Links node into the tree and returns the node that now holds its value (node, or the existing one of
    // the same name, in which case node is freed).
    TJsonAvlEntry* AddNode(TJsonAvlEntry* node);

private:
    void dropNode(TJsonAvlEntry* node, bool all);
    static TJsonAvlEntry* rebalance(TJsonAvlEntry* node);

    TJsonAvlEntry* root_ = nullptr;
    int32_t count_ = 0;
};

// In-order walk over a member table (ascending names), without recursion.
class TJsonAvlIterator {
public:
    explicit TJsonAvlIterator(const TJsonMemberTable* table = nullptr);
    // Moves to the smallest name; false when the table is empty.
    bool First();
    bool Next();
    TJsonAvlEntry* Current() const noexcept { return depth_ >= 0 ? path_[depth_] : nullptr; }

private:
    void descendLeft(TJsonAvlEntry* node);

    const TJsonMemberTable* tree_;
    int depth_ = -1;
    TJsonAvlEntry* path_[TJsonMemberTable::MaxDepth]{};
};

// Record of a member walk: FirstMember / NextMember / CloseMembers.
struct TJsonMemberIter {
    std::u16string Key;
    IJsonValue Val;
    TJsonAvlIterator* Cursor = nullptr;
};
bool FirstMember(const IJsonValue& v, TJsonMemberIter& iter);
bool NextMember(TJsonMemberIter& iter);
void CloseMembers(TJsonMemberIter& iter);

// Steps over the members of an object (in name order) or the items of an array (in index order).
class TJsonEnumerator {
public:
    explicit TJsonEnumerator(const IJsonValue& value);
    bool MoveNext();
    int32_t Position() const noexcept { return position_; }
    // The member name at the position (empty text for array items).
    std::u16string_view Name() const noexcept;
    IJsonValue Current() const;

private:
    IJsonValue value_;
    TJsonAvlIterator cursor_;
    int32_t position_ = -1;
};

} // namespace qarvia::json
