#pragma once

// moc reads every header of a Q_OBJECT class and cannot parse the standard library's concepts,
// which <coroutine> brings in; it needs nothing of this file.
#ifndef Q_MOC_RUN
#include <coroutine>
#endif
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

// A lazy C++20 coroutine that gives back a T: the shape of every meter dialogue, which still
// reads as send, wait, read, decide while each wait returns to the event loop. A Task starts when
// it is awaited (or handed to a DialogueRunner) and resumes its awaiter when it finishes. It owns
// its coroutine frame: destroying a suspended Task destroys the frames of everything it awaits,
// so a dialogue whose owner goes away never resumes. Exceptions do not cross it (the program
// uses none); one that escapes ends the program.
template <typename T = void> class Task;

namespace TaskDetail {

struct PromiseBase
{
    std::coroutine_handle<> m_continuation;

    std::suspend_always initial_suspend() const noexcept { return {}; }
    void unhandled_exception() const noexcept { std::terminate(); }

    // At its end a coroutine hands control straight to whoever awaited it.
    struct FinalAwaiter
    {
        bool await_ready() const noexcept { return false; }
        template <typename Promise>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> handle) const noexcept
        {
            const std::coroutine_handle<> next = handle.promise().m_continuation;
            return next ? next : std::noop_coroutine();
        }
        void await_resume() const noexcept { }
    };
    FinalAwaiter final_suspend() const noexcept { return {}; }
};

template <typename T> struct Promise : PromiseBase
{
    std::optional<T> m_value;
    Task<T> get_return_object();
    template <typename U> void return_value(U &&value) { m_value.emplace(std::forward<U>(value)); }
};

template <> struct Promise<void> : PromiseBase
{
    Task<void> get_return_object();
    void return_void() const noexcept { }
};

} // namespace TaskDetail

template <typename T> class Task
{
public:
    using promise_type = TaskDetail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    explicit Task(Handle handle)
        : m_handle(handle)
    {
    }
    Task(Task &&other) noexcept
        : m_handle(std::exchange(other.m_handle, {}))
    {
    }
    Task &operator=(Task &&other) noexcept
    {
        if (this != &other) {
            Destroy();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    Task(const Task &) = delete;
    Task &operator=(const Task &) = delete;
    ~Task() { Destroy(); }

    bool Done() const { return !m_handle || m_handle.done(); }
    // Runs the coroutine from its start (or where it was suspended) until its next wait.
    void Resume()
    {
        if (m_handle && !m_handle.done())
            m_handle.resume();
    }
    // The value of a finished Task<T> (a default T if it never reached its end).
    T Result()
    {
        if constexpr (!std::is_void_v<T>) {
            if (m_handle && m_handle.promise().m_value)
                return std::move(*m_handle.promise().m_value);
            return T {};
        }
    }

    bool await_ready() const noexcept { return Done(); }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept
    {
        m_handle.promise().m_continuation = awaiting;
        return m_handle;
    }
    T await_resume() { return Result(); }

private:
    void Destroy()
    {
        if (m_handle)
            m_handle.destroy();
        m_handle = {};
    }

    Handle m_handle;
};

template <typename T> Task<T> TaskDetail::Promise<T>::get_return_object()
{
    return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}

inline Task<void> TaskDetail::Promise<void>::get_return_object()
{
    return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}
