#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace qarvia::update {

// A small set over an enumeration with at most 32 members, written like the component's settings:
// TsuSet<TsuCacheOption>{coPragmaNoCache, coNoCacheWrite}.
template <typename E> class TsuSet {
public:
    constexpr TsuSet() = default;
    constexpr TsuSet(std::initializer_list<E> members) {
        for (E m : members)
            bits |= bit(m);
    }

    constexpr bool contains(E m) const { return (bits & bit(m)) != 0; }
    constexpr bool isEmpty() const { return bits == 0; }
    constexpr TsuSet& insert(E m) {
        bits |= bit(m);
        return *this;
    }
    constexpr TsuSet& remove(E m) {
        bits &= ~bit(m);
        return *this;
    }
    constexpr TsuSet operator+(E m) const { return TsuSet(*this).insert(m); }
    constexpr TsuSet operator-(E m) const { return TsuSet(*this).remove(m); }
    constexpr std::uint32_t toBits() const { return bits; }
    static constexpr TsuSet fromBits(std::uint32_t value) {
        TsuSet s;
        s.bits = value;
        return s;
    }
    friend constexpr bool operator==(TsuSet a, TsuSet b) { return a.bits == b.bits; }

private:
    static constexpr std::uint32_t bit(E m) { return std::uint32_t(1) << static_cast<std::underlying_type_t<E>>(m); }
    std::uint32_t bits = 0;
};

} // namespace qarvia::update
