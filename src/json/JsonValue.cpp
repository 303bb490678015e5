#include "json/JsonValue.h"

#include "json/JsonNumbers.h"
#include "json/JsonParser.h"
#include "json/JsonPool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace qarvia::json {

using numbers::roundEven;
using numbers::saturatingMultiply;

// --- Construction and destruction -----------------------------------------------------------------------

void TJsonText::clear() noexcept {
    if (block_) {
        pool::release(block_, sizeof(Block) + block_->length * sizeof(char16_t));
        block_ = nullptr;
    }
}

void TJsonText::assign(const char16_t* text, size_t length) {
    Block* block = nullptr;
    if (length > 0) {
        block = static_cast<Block*>(pool::allocate(sizeof(Block) + length * sizeof(char16_t)));
        block->length = length;
        std::memcpy(static_cast<void*>(block + 1), text, length * sizeof(char16_t));
    }
    clear();
    block_ = block;
}

void* TJsonValue::operator new(size_t size) {
    return pool::allocate(size);
}
// An object or array value's block is larger (its container follows it); the pool needs the size only to
// tell pooled blocks from large ones, and both sizes are pooled.
void TJsonValue::operator delete(void* block, size_t size) noexcept {
    pool::release(block, size);
}
void* TJsonArray::operator new(size_t size) {
    return pool::allocate(size);
}
void TJsonArray::operator delete(void* block, size_t size) noexcept {
    pool::release(block, size);
}
void* TJsonMemberTable::operator new(size_t size) {
    return pool::allocate(size);
}
void TJsonMemberTable::operator delete(void* block, size_t size) noexcept {
    pool::release(block, size);
}

// A document is mostly value records: keep them at half a cache line.
static_assert(sizeof(TJsonValue) == 32);

TJsonValue* TJsonValue::newCounted(TJsonKind kind) {
    auto* v = new TJsonValue(kind);
    v->RefCount.store(1, std::memory_order_relaxed);
    return v;
}

TJsonValue* TJsonValue::NewOwned(TJsonKind kind) {
    if (kind != skObject && kind != skArray)
        return newCounted(kind);
    // An object's member table or an array's slots record lives for as long as its value, so both share one
    // block: the container right after the value record.
    static_assert(alignof(TJsonMemberTable) <= alignof(TJsonValue) && alignof(TJsonArray) <= alignof(TJsonValue));
    void* block =
        pool::allocate(sizeof(TJsonValue) + (kind == skObject ? sizeof(TJsonMemberTable) : sizeof(TJsonArray)));
    auto* v = ::new (block) TJsonValue(kind);
    v->RefCount.store(1, std::memory_order_relaxed);
    void* container = static_cast<char*>(block) + sizeof(TJsonValue);
    if (kind == skObject)
        v->Payload.Object = ::new (container) TJsonMemberTable;
    else
        v->Payload.Array = ::new (container) TJsonArray;
    return v;
}

TJsonValue* TJsonValue::NewOwnedInteger(int64_t value) {
    TJsonValue* v = newCounted(skInteger);
    v->Payload.Integer = value;
    return v;
}

TJsonValue* TJsonValue::NewOwnedDouble(double value) {
    TJsonValue* v = newCounted(skDouble);
    v->Payload.Double = value;
    return v;
}

TJsonValue* TJsonValue::NewOwnedCurrency(int64_t scaled) {
    TJsonValue* v = newCounted(skCurrency);
    v->Payload.Currency = scaled;
    return v;
}

TJsonValue* TJsonValue::NewOwnedBoolean(bool value) {
    TJsonValue* v = newCounted(skBoolean);
    v->Payload.Boolean = value;
    return v;
}

TJsonValue* TJsonValue::NewOwnedText(const char16_t* text, size_t length) {
    TJsonValue* v = newCounted(skString);
    v->Text.assign(text, length);
    return v;
}

IJsonValue TJsonValue::FromKind(TJsonKind kind) {
    return IJsonValue::Adopt(NewOwned(kind));
}
IJsonValue TJsonValue::FromBoolean(bool value) {
    return IJsonValue::Adopt(NewOwnedBoolean(value));
}
IJsonValue TJsonValue::FromInteger(int64_t value) {
    return IJsonValue::Adopt(NewOwnedInteger(value));
}
IJsonValue TJsonValue::FromDouble(double value) {
    return IJsonValue::Adopt(NewOwnedDouble(value));
}
IJsonValue TJsonValue::FromCurrency(TJsonCurrency value) {
    return IJsonValue::Adopt(NewOwnedCurrency(value.Scaled));
}
IJsonValue TJsonValue::FromText(std::u16string_view text) {
    return IJsonValue::Adopt(NewOwnedText(text.data(), text.size()));
}
IJsonValue TJsonValue::FromMethod(TJsonMethod method) {
    TJsonValue* v = NewOwned(skMethod);
    if (method)
        v->Payload.Method = new TJsonMethod(std::move(method));
    return IJsonValue::Adopt(v);
}

TJsonValue::~TJsonValue() {
    switch (Kind) {
    case skObject:
        Payload.Object->~TJsonMemberTable(); // in the value's own block
        break;
    case skArray:
        Payload.Array->~TJsonArray();
        break;
    case skMethod:
        delete Payload.Method;
        break;
    default:
        break;
    }
}

void TJsonValue::destroyUnchecked(TJsonValue* value) noexcept {
    delete value;
}

void TJsonValue::Destroy(TJsonValue* value) {
    if (!value)
        return;
    if (value->RefCount.load(std::memory_order_acquire) != 0)
        throw EJsonInvalidPointer();
    delete value;
}

// --- Array ---------------------------------------------------------------------------------------------

TJsonArray::TJsonArray() = default;

TJsonArray::~TJsonArray() {
    for (int32_t i = 0; i < count_; ++i) {
        if (i + 4 < count_)
            __builtin_prefetch(items_[i + 4]); // items are mostly out of the cache by the time they are freed
        if (items_[i])
            items_[i]->ReleaseMember();
    }
    if (items_ != own_)
        pool::release(items_, size_t(allocated_) * sizeof(TJsonValue*));
}

// Room for `index` from `size` slots: twice as many, or just enough when that is still short.
static int64_t grownToHold(int32_t size, int32_t index) {
    return std::max(int64_t(size) * 2, int64_t(index) + 1);
}

void TJsonArray::GrowTo(int32_t index) {
    if (index < capacity_)
        return;
    const int64_t newCapacity = grownToHold(capacity_, index);
    if (newCapacity > INT32_MAX)
        throw std::bad_alloc();
    capacity_ = static_cast<int32_t>(newCapacity);
}

void TJsonArray::reserveSlots(int32_t index) {
    if (index < allocated_)
        return;
    int64_t wanted = grownToHold(allocated_, index);
    if (wanted > capacity_)
        wanted = capacity_;
    auto* grown = static_cast<TJsonValue**>(pool::allocate(size_t(wanted) * sizeof(TJsonValue*)));
    if (allocated_ > 0)
        std::memcpy(static_cast<void*>(grown), items_, size_t(allocated_) * sizeof(TJsonValue*));
    std::memset(static_cast<void*>(grown + allocated_), 0, size_t(wanted - allocated_) * sizeof(TJsonValue*));
    if (items_ != own_)
        pool::release(items_, size_t(allocated_) * sizeof(TJsonValue*));
    items_ = grown;
    allocated_ = static_cast<int32_t>(wanted);
}

void TJsonArray::SetItemAt(int32_t index, const IJsonValue& v) {
    if (index < 0)
        return;
    GrowTo(index);
    reserveSlots(index);
    TJsonValue* nv = v.Get();
    if (nv)
        nv->AddRef();
    TJsonValue* old = items_[index];
    items_[index] = nv;
    if (index >= count_)
        count_ = index + 1;
    if (old)
        old->Release();
}

int32_t TJsonArray::Append(const IJsonValue& v) {
    const int32_t index = count_;
    SetItemAt(index, v);
    return index;
}

IJsonValue TJsonArray::RemoveAt(int32_t index) {
    if (index < 0 || index >= count_)
        return {};
    TJsonValue* item = items_[index];
    std::memmove(items_ + index, items_ + index + 1, size_t(count_ - index - 1) * sizeof(TJsonValue*));
    --count_;
    items_[count_] = nullptr;
    return IJsonValue::Adopt(item);
}

void TJsonArray::Empty(bool all) {
    const int32_t n = count_;
    count_ = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (TJsonValue* item = items_[i]) {
            items_[i] = nullptr;
            if (all)
                IJsonValue(item).Empty(true);
            item->Release();
        }
    }
}

void TJsonArray::Compact(bool all) {
    int32_t kept = 0;
    for (int32_t i = 0; i < count_; ++i) {
        if (TJsonValue* item = items_[i]) {
            items_[i] = nullptr;
            items_[kept++] = item;
        }
    }
    count_ = kept;
    if (all)
        for (int32_t i = 0; i < kept; ++i)
            IJsonValue(items_[i]).Compact(true);
}

// --- Conversions ---------------------------------------------------------------------------------------

bool IJsonValue::ToBoolean() const {
    if (!v_)
        return false;
    switch (v_->Kind) {
    case skNull:
        return false;
    case skBoolean:
        return v_->Payload.Boolean;
    case skDouble:
        return v_->Payload.Double != 0;
    case skCurrency:
        return v_->Payload.Currency != 0;
    case skInteger:
        return v_->Payload.Integer != 0;
    case skString:
        return !v_->Text.empty();
    case skObject:
    case skArray:
    case skMethod:
        return true;
    }
    return false;
}

namespace {

// Currency scaled value divided by 10 000, rounded to the nearest integer with ties to even, exactly.
int64_t currencyToInteger(int64_t scaled) {
    int64_t q = scaled / 10000;
    const int64_t r = scaled % 10000; // same sign as scaled
    if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
    else if (r < -5000 || (r == -5000 && (q & 1)))
        --q;
    return q;
}

} // namespace

int64_t IJsonValue::ToInteger() const {
    if (!v_)
        return 0;
    switch (v_->Kind) {
    case skBoolean:
        return v_->Payload.Boolean ? 1 : 0;
    case skDouble:
        return roundEven(v_->Payload.Double);
    case skCurrency:
        return currencyToInteger(v_->Payload.Currency);
    case skInteger:
        return v_->Payload.Integer;
    case skString: {
        int64_t r = 0;
        return numbers::textToInteger(v_->Text, r) ? r : 0;
    }
    default:
        return 0;
    }
}

double IJsonValue::ToDouble() const {
    if (!v_)
        return 0;
    switch (v_->Kind) {
    case skBoolean:
        return v_->Payload.Boolean ? 1 : 0;
    case skDouble:
        return v_->Payload.Double;
    case skCurrency:
        return double(v_->Payload.Currency) / 10000.0;
    case skInteger:
        return double(v_->Payload.Integer);
    case skString: {
        double r = 0;
        return numbers::textToReal(v_->Text, r) ? r : 0;
    }
    default:
        return 0;
    }
}

TJsonCurrency IJsonValue::ToCurrency() const {
    if (!v_)
        return {};
    switch (v_->Kind) {
    case skBoolean:
        return {v_->Payload.Boolean ? 10000 : 0};
    case skDouble:
        return {roundEven(v_->Payload.Double * 10000.0)};
    case skCurrency:
        return {v_->Payload.Currency};
    case skInteger:
        return {saturatingMultiply(v_->Payload.Integer, 10000)};
    case skString: {
        double r = 0;
        return {numbers::textToReal(v_->Text, r) ? roundEven(r * 10000.0) : 0};
    }
    default:
        return {};
    }
}

std::u16string IJsonValue::ToText() const {
    if (!v_)
        return {};
    if (v_->Kind == skString)
        return std::u16string(v_->Text.data(), v_->Text.size());
    return ToJson(false, false);
}

TJsonMethod IJsonValue::ToMethod() const {
    if (HasKind(skMethod) && v_->Payload.Method)
        return *v_->Payload.Method;
    return {};
}

// --- Value operations ----------------------------------------------------------------------------------

void IJsonValue::Empty(bool all) const {
    if (!v_ || v_->Busy)
        return;
    v_->Busy = true;
    switch (v_->Kind) {
    case skBoolean:
        v_->Payload.Boolean = false;
        break;
    case skDouble:
        v_->Payload.Double = 0;
        break;
    case skCurrency:
    case skInteger:
        v_->Payload.Integer = 0;
        break;
    case skObject:
        v_->Payload.Object->Empty(all);
        break;
    case skArray:
        v_->Payload.Array->Empty(all);
        break;
    case skString:
        v_->Text.clear();
        break;
    case skMethod:
        delete v_->Payload.Method;
        v_->Payload.Method = nullptr;
        break;
    case skNull:
        break;
    }
    v_->Busy = false;
}

void IJsonValue::Compact(bool all) const {
    if (!v_ || v_->Busy)
        return;
    v_->Busy = true;
    if (v_->Kind == skObject)
        v_->Payload.Object->Compact(all);
    else if (v_->Kind == skArray)
        v_->Payload.Array->Compact(all);
    v_->Busy = false;
}

IJsonValue IJsonValue::Copy() const {
    if (!v_)
        return {};
    switch (v_->Kind) {
    case skNull:
        return {};
    case skBoolean:
        return TJsonValue::FromBoolean(v_->Payload.Boolean);
    case skDouble:
        return TJsonValue::FromDouble(v_->Payload.Double);
    case skCurrency:
        return TJsonValue::FromCurrency({v_->Payload.Currency});
    case skInteger:
        return TJsonValue::FromInteger(v_->Payload.Integer);
    case skString:
        return TJsonValue::FromText(std::u16string_view(v_->Text));
    case skMethod:
        return TJsonValue::FromMethod(ToMethod());
    case skObject: {
        // A value that contains itself would copy forever; its inner occurrence copies as empty.
        if (v_->Busy)
            return {};
        v_->Busy = true;
        IJsonValue r = TJsonValue::FromKind(skObject);
        TJsonMemberTable* t = r.ToObject();
        TJsonAvlIterator it(v_->Payload.Object);
        for (bool more = it.First(); more; more = it.Next())
            t->Store(it.Current()->Name(), IJsonValue(it.Current()->Value).Copy());
        v_->Busy = false;
        return r;
    }
    case skArray: {
        if (v_->Busy)
            return {};
        v_->Busy = true;
        IJsonValue r = TJsonValue::FromKind(skArray);
        TJsonArray* a = r.ToArray();
        const TJsonArray* src = v_->Payload.Array;
        for (int32_t i = 0; i < src->ItemCount(); ++i)
            a->Append(src->ItemAt(i).Copy());
        v_->Busy = false;
        return r;
    }
    }
    return {};
}

void IJsonValue::MergeValue(const IJsonValue& other, bool byReference) const {
    if (!v_ || !other || other.GetKind() != v_->Kind || other == *this)
        return;
    switch (v_->Kind) {
    case skBoolean:
        v_->Payload.Boolean = other.ToBoolean();
        break;
    case skDouble:
        v_->Payload.Double = other.ToDouble();
        break;
    case skCurrency:
        v_->Payload.Currency = other.ToCurrency().Scaled;
        break;
    case skInteger:
        v_->Payload.Integer = other.ToInteger();
        break;
    case skString:
        v_->Text.assign(other.ToText());
        break;
    case skMethod: {
        TJsonMethod m = other.ToMethod();
        delete v_->Payload.Method;
        v_->Payload.Method = m ? new TJsonMethod(std::move(m)) : nullptr;
        break;
    }
    case skObject: {
        if (v_->Busy || other.GetBusy())
            break;
        v_->Busy = true;
        other.SetBusy(true);
        TJsonMemberTable* mine = v_->Payload.Object;
        TJsonAvlIterator it(other.ToObject());
        for (bool more = it.First(); more; more = it.Next()) {
            const std::u16string_view name = it.Current()->Name();
            const IJsonValue theirs(it.Current()->Value);
            const IJsonValue own = mine->Lookup(name);
            if (own && theirs && own.GetKind() == theirs.GetKind())
                own.MergeValue(theirs, false);
            else
                mine->Store(name, byReference ? theirs : theirs.Copy());
        }
        other.SetBusy(false);
        v_->Busy = false;
        break;
    }
    case skArray: {
        if (v_->Busy || other.GetBusy())
            break;
        v_->Busy = true;
        other.SetBusy(true);
        TJsonArray* mine = v_->Payload.Array;
        const TJsonArray* src = other.ToArray();
        for (int32_t i = 0; i < src->ItemCount(); ++i) {
            const IJsonValue theirs = src->ItemAt(i);
            const IJsonValue own = mine->ItemAt(i);
            if (own && theirs && own.GetKind() == theirs.GetKind())
                own.MergeValue(theirs, false);
            else
                mine->SetItemAt(i, byReference ? theirs : theirs.Copy());
        }
        other.SetBusy(false);
        v_->Busy = false;
        break;
    }
    case skNull:
        break;
    }
}

void IJsonValue::MergeText(std::u16string_view text) const {
    MergeValue(ParseText(text), true);
}

namespace {

bool isNumberKind(TJsonKind k) {
    return k == skBoolean || k == skDouble || k == skCurrency || k == skInteger;
}

TJsonCompareResult fromSign(int c) {
    return c < 0 ? crLess : c == 0 ? crEqual : crGreater;
}

} // namespace

TJsonCompareResult IJsonValue::CompareValue(const IJsonValue& other) const {
    const TJsonKind a = GetKind(), b = other.GetKind();
    if (!v_ || !other)
        return crNotComparable;
    if (isNumberKind(a) && isNumberKind(b)) {
        const bool exact = (a == skInteger || a == skBoolean) && (b == skInteger || b == skBoolean);
        if (exact) {
            const int64_t x = ToInteger(), y = other.ToInteger();
            return x < y ? crLess : x == y ? crEqual : crGreater;
        }
        const double x = ToDouble(), y = other.ToDouble();
        if (x < y)
            return crLess;
        if (x > y)
            return crGreater;
        return x == y ? crEqual : crNotComparable; // NaN, or two infinities of one sign
    }
    if ((a == skString && (isNumberKind(b) || b == skString)) || (b == skString && isNumberKind(a)))
        return fromSign(CompareOrdinal(ToText(), other.ToText()));
    return crNotComparable;
}

TJsonCompareResult IJsonValue::CompareText(std::u16string_view text) const {
    return CompareValue(ParseText(text));
}

} // namespace qarvia::json
