// A word shared between the main thread and the subtitle thread.
//
// The player's shared state is a handful of aligned words that each thread reads
// and writes with plain loads and stores. In C++ that is a data race, so each
// such word is an atomic accessed with relaxed ordering: the same machine code
// on the box, defined behaviour in the language. Compound assignment is a load
// followed by a store, not an atomic read-modify-write, exactly like the plain
// word it stands for; the code that relies on it says so.
#pragma once

#include <atomic>

template <typename T>
class relaxed {
public:
    constexpr relaxed() noexcept : v_{} {}
    constexpr relaxed(T v) noexcept : v_{v} {}  // NOLINT: behaves like the plain word
    relaxed(const relaxed&) = delete;
    relaxed& operator=(const relaxed&) = delete;

    T load() const noexcept { return v_.load(std::memory_order_relaxed); }
    void store(T v) noexcept { v_.store(v, std::memory_order_relaxed); }
    operator T() const noexcept { return load(); }  // NOLINT
    relaxed& operator=(T v) noexcept {
        store(v);
        return *this;
    }
    T operator->() const noexcept { return load(); }

    relaxed& operator+=(T d) noexcept {
        store(static_cast<T>(load() + d));
        return *this;
    }
    relaxed& operator-=(T d) noexcept {
        store(static_cast<T>(load() - d));
        return *this;
    }
    T operator++(int) noexcept {
        T old = load();
        store(static_cast<T>(old + 1));
        return old;
    }
    T operator--(int) noexcept {
        T old = load();
        store(static_cast<T>(old - 1));
        return old;
    }

private:
    std::atomic<T> v_;
};
