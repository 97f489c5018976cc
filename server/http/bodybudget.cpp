#include "http/bodybudget.h"

#include <utility>

namespace VelmoraServerCore {

bool BodyBudget::take(qint64 bytes)
{
    qint64 held = m_held.load();
    do {
        if (held + bytes > m_limit)
            return false;
    } while (!m_held.compare_exchange_weak(held, held + bytes));
    return true;
}

BodyBudget::Share::Share(Share &&other) noexcept
    : m_budget(std::exchange(other.m_budget, nullptr)), m_bytes(std::exchange(other.m_bytes, 0))
{
}

BodyBudget::Share &BodyBudget::Share::operator=(Share &&other) noexcept
{
    if (this != &other) {
        release();
        m_budget = std::exchange(other.m_budget, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

bool BodyBudget::Share::hold(qint64 bytes)
{
    if (!m_budget || !m_budget->take(bytes - m_bytes))
        return false;
    m_bytes = bytes;
    return true;
}

void BodyBudget::Share::release()
{
    if (m_budget)
        m_budget->m_held -= m_bytes;
    m_bytes = 0;
}

} // namespace VelmoraServerCore
