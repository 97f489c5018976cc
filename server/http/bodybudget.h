// The memory velmora-server lets request bodies hold at once, counted over
// every connection: a body takes its share as its bytes arrive and gives it
// back when its request is done, so that many large bodies at once get 503
// instead of exhausting the machine.
#pragma once

#include <QtGlobal>

#include <atomic>

namespace VelmoraServerCore {

class BodyBudget
{
public:
    explicit BodyBudget(qint64 bytes) : m_limit(bytes) {}
    BodyBudget(const BodyBudget &) = delete;
    BodyBudget &operator=(const BodyBudget &) = delete;

    qint64 limit() const { return m_limit; }
    qint64 held() const { return m_held.load(); }

    // The part of the budget one body holds; given back when it is
    // destroyed or released.
    class Share
    {
    public:
        Share() = default;
        explicit Share(BodyBudget *budget) : m_budget(budget) {}
        Share(Share &&other) noexcept;
        Share &operator=(Share &&other) noexcept;
        ~Share() { release(); }

        // Holds bytes in all (fewer give the rest back); false, holding what
        // it held, when the budget has no room for more.
        bool hold(qint64 bytes);
        qint64 bytes() const { return m_bytes; }
        void release();

    private:
        BodyBudget *m_budget = nullptr;
        qint64 m_bytes = 0;
    };

private:
    bool take(qint64 bytes); // a negative count gives back

    const qint64 m_limit;
    std::atomic<qint64> m_held{0};
};

} // namespace VelmoraServerCore
