#include "core/centerset.h"

#include <algorithm>

namespace VelmoraInternal {

CenterSet::CenterSet(const std::vector<quint32> &numbers, quint32 loaded)
    : m_size(qsizetype(numbers.size()))
{
    size_t runs = 0;
    for (size_t i = 0; i < numbers.size(); ++i)
        runs += i == 0 || numbers[i] != numbers[i - 1] + 1;
    const size_t words = (size_t(loaded) + 63) / 64;
    if (runs * sizeof(m_runs[0]) > words * sizeof(quint64)) {
        m_bits.assign(words, 0);
        for (quint32 number : numbers)
            m_bits[number / 64] |= quint64(1) << (number % 64);
        return;
    }
    m_runs.reserve(runs);
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i == 0 || numbers[i] != numbers[i - 1] + 1)
            m_runs.emplace_back(numbers[i], numbers[i]);
        else
            m_runs.back().second = numbers[i];
    }
}

bool CenterSet::contains(quint32 number) const
{
    if (!m_bits.empty())
        return number / 64 < m_bits.size() && (m_bits[number / 64] >> (number % 64) & 1) != 0;
    // The first run that ends at or after the number.
    const auto run = std::lower_bound(m_runs.begin(), m_runs.end(), number,
                                      [](const std::pair<quint32, quint32> &r, quint32 n) { return r.second < n; });
    return run != m_runs.end() && run->first <= number;
}

size_t CenterSet::bytes() const
{
    return m_runs.capacity() * sizeof(m_runs[0]) + m_bits.capacity() * sizeof(quint64);
}

} // namespace VelmoraInternal
